#include "udpstreaming/recording/Ipv4Reassembler.h"

#include <algorithm>
#include <cstring>

namespace Varkon::QUILApi::UdpStreaming::Recording {

bool Ipv4Reassembler::Add(const Ipv4Packet& fragment, int64_t timeNanoseconds,
                          std::vector<uint8_t>& whole, bool& malformed) {
    malformed = false;
    DropOlderThan(timeNanoseconds);
    const std::size_t begin = fragment.fragmentOffset;
    const std::size_t end = begin + fragment.payloadSize;
    // A fragment cut short by the capture cannot complete its set faithfully.
    if (end > kMaxPayload || fragment.payloadSize < fragment.declaredPayloadSize ||
        (fragment.moreFragments && fragment.payloadSize % 8 != 0)) {
        malformed = true;
        return false;
    }
    auto found = std::find_if(sets.begin(), sets.end(), [&](const Set& set) {
        return set.source == fragment.source && set.destination == fragment.destination &&
               set.identification == fragment.identification && set.protocol == fragment.protocol;
    });
    if (found == sets.end()) {
        if (sets.size() == kMaxSets) {
            sets.erase(sets.begin());
            ++incomplete;
        }
        Set set;
        set.source = fragment.source;
        set.destination = fragment.destination;
        set.identification = fragment.identification;
        set.protocol = fragment.protocol;
        set.firstTime = timeNanoseconds;
        sets.push_back(std::move(set));
        found = sets.end() - 1;
    }
    Set& set = *found;
    if (!fragment.moreFragments) {
        if (set.lastSeen && set.totalSize != end) {
            malformed = true;  // two different ends: the set cannot be trusted
            sets.erase(found);
            ++incomplete;
            return false;
        }
        set.lastSeen = true;
        set.totalSize = end;
    }
    if (set.bytes.size() < end) {
        set.bytes.resize(end);
    }
    std::memcpy(set.bytes.data() + begin, fragment.payload, fragment.payloadSize);
    Cover(set, begin, end);
    const bool complete = set.lastSeen && set.covered.size() == 1 &&
                          set.covered.front().first == 0 &&
                          set.covered.front().second >= set.totalSize;
    if (!complete) {
        return false;
    }
    set.bytes.resize(set.totalSize);
    whole.swap(set.bytes);
    sets.erase(found);
    return true;
}

void Ipv4Reassembler::DropAll() {
    incomplete += sets.size();
    sets.clear();
}

void Ipv4Reassembler::DropOlderThan(int64_t timeNanoseconds) {
    const auto before = sets.size();
    sets.erase(std::remove_if(sets.begin(), sets.end(),
                              [&](const Set& set) {
                                  return timeNanoseconds - set.firstTime > kMaxAgeNanoseconds;
                              }),
               sets.end());
    incomplete += before - sets.size();
}

void Ipv4Reassembler::Cover(Set& set, std::size_t begin, std::size_t end) {
    if (begin == end) {
        return;
    }
    auto& covered = set.covered;
    covered.emplace_back(begin, end);
    std::sort(covered.begin(), covered.end());
    std::size_t merged = 0;
    for (std::size_t i = 1; i < covered.size(); ++i) {
        if (covered[i].first <= covered[merged].second) {
            covered[merged].second = std::max(covered[merged].second, covered[i].second);
        } else {
            covered[++merged] = covered[i];
        }
    }
    covered.resize(merged + 1);
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

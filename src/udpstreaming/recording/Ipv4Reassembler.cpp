#include "udpstreaming/recording/Ipv4Reassembler.h"

#include <algorithm>
#include <cstring>
#include <iterator>

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
                          set.covered.begin()->first == 0 &&
                          set.covered.begin()->second >= set.totalSize;
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
    auto next = covered.upper_bound(begin);
    if (next != covered.begin()) {
        const auto before = std::prev(next);
        if (before->second >= begin) {  // touches or overlaps the piece before
            begin = before->first;
            end = std::max(end, before->second);
            covered.erase(before);
        }
    }
    while (next != covered.end() && next->first <= end) {  // swallows the pieces after
        end = std::max(end, next->second);
        next = covered.erase(next);
    }
    covered.emplace_hint(next, begin, end);
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

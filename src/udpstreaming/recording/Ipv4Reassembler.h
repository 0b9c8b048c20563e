#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "udpstreaming/recording/Ipv4Udp.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// Puts IPv4 fragments back together into whole packets, as a receiving host does.
//
// Bounded: at most kMaxSets sets at once (a further one drops the oldest), each dropped when it
// has not completed within kMaxAge of capture time after its first fragment, and none larger
// than an IPv4 packet can be. Fragments may come in any order and may overlap (later bytes win).
// Every set dropped unfinished is counted. A fragment costs O(log k) in the k pieces of its set
// that are not yet joined, however the fragments of a capture are ordered.
class Ipv4Reassembler {
public:
    static constexpr std::size_t kMaxSets = 64;
    static constexpr int64_t kMaxAgeNanoseconds = 2'000'000'000;
    static constexpr std::size_t kMaxPayload = 65535 - kIpv4HeaderSize;

    // Offers one fragment captured at `timeNanoseconds`. When it completes its set, returns true
    // and fills `whole` with the packet's payload (the set's header fields in `packet`).
    // False otherwise, and for a fragment reaching beyond kMaxPayload (`malformed` set).
    bool Add(const Ipv4Packet& fragment, int64_t timeNanoseconds, std::vector<uint8_t>& whole,
             bool& malformed);
    // Drops every set, counting them as incomplete (the end of a capture).
    void DropAll();
    void Clear() { sets.clear(); }
    uint64_t Incomplete() const { return incomplete; }

private:
    struct Set {
        uint32_t source;
        uint32_t destination;
        uint16_t identification;
        uint8_t protocol;
        int64_t firstTime;
        std::size_t totalSize = 0;  // known once the last fragment came; 0 before
        bool lastSeen = false;
        std::vector<uint8_t> bytes;
        std::map<std::size_t, std::size_t> covered;  // [begin, end) by begin, merged
    };

    void DropOlderThan(int64_t timeNanoseconds);
    static void Cover(Set& set, std::size_t begin, std::size_t end);

    std::vector<Set> sets;  // oldest first
    uint64_t incomplete = 0;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

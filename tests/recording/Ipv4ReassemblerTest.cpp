// IPv4 reassembly on its own: any order of fragments, down to the smallest, gives the packet back.
#include "udpstreaming/recording/Ipv4Reassembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming::Recording {
namespace {

struct Piece {
    std::size_t begin;
    std::size_t size;
};

// Offers the pieces of `payload` in the given order; returns the packet once it completed.
std::vector<uint8_t> Reassemble(const std::vector<uint8_t>& payload,
                                const std::vector<Piece>& pieces) {
    Ipv4Reassembler reassembler;
    std::vector<uint8_t> whole;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Ipv4Packet fragment;
        fragment.source = 1;
        fragment.destination = 2;
        fragment.identification = 3;
        fragment.protocol = kProtocolUdp;
        fragment.fragmentOffset = pieces[i].begin;
        fragment.payload = payload.data() + pieces[i].begin;
        fragment.payloadSize = fragment.declaredPayloadSize = pieces[i].size;
        fragment.moreFragments = pieces[i].begin + pieces[i].size < payload.size();
        bool malformed = false;
        const bool complete = reassembler.Add(fragment, 0, whole, malformed);
        EXPECT_FALSE(malformed);
        if (complete) {
            EXPECT_EQ(i + 1, pieces.size()) << "completed early";
            return whole;
        }
    }
    return {};
}

std::vector<Piece> Split(std::size_t size, std::size_t step) {
    std::vector<Piece> pieces;
    for (std::size_t at = 0; at < size; at += step) {
        pieces.push_back({at, std::min(step, size - at)});
    }
    return pieces;
}

TEST(Ipv4ReassemblerTest, AnyOrderOfFragmentsGivesThePacketBack) {
    std::vector<uint8_t> payload(Ipv4Reassembler::kMaxPayload / 8 * 8);
    std::iota(payload.begin(), payload.end(), 0);
    const std::vector<Piece> small = Split(payload.size(), 8);  // 8,188 fragments
    std::vector<Piece> reversed(small.rbegin(), small.rend());
    std::vector<Piece> interleaved;  // evens, then odds: every odd one joins two pieces
    for (int parity : {0, 1}) {
        for (std::size_t i = parity; i < small.size(); i += 2) {
            interleaved.push_back(small[i]);
        }
    }
    std::vector<Piece> shuffled = small;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    std::vector<Piece> overlapping = Split(payload.size(), 1480);
    for (const Piece& piece : Split(payload.size() - 8, 1480)) {
        overlapping.insert(overlapping.begin(), {piece.begin + 8, 16});  // inside others
    }
    const struct {
        const char* name;
        std::vector<Piece> pieces;
    } cases[] = {
        {"in order", small},          {"reversed", reversed},
        {"interleaved", interleaved}, {"shuffled", shuffled},
        {"overlapping", overlapping}, {"large", Split(payload.size(), 1480)},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Reassemble(payload, c.pieces) == payload) << c.name;
    }
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming::Recording

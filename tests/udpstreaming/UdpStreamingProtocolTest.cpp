#include "udpstreaming/protocol/UdpStreamingProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "udpstreaming/StreamCounters.h"
#include "udpstreaming/StreamPackets.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {
namespace {

using Testing::Bytes;
using Testing::Packet;
using Testing::WholeBlock;
using ::Varkon::QUILApi::operator==;

struct Block {
    uint32_t blockId;
    Bytes payload;
    static constexpr auto kFields =
        std::make_tuple(Key("blockId", &Block::blockId), Key("payload", &Block::payload));
};

// A payload's first byte that the test's data callback does not take as the stream's.
constexpr uint8_t kNotOfTheStream = 0xEE;

// A protocol whose callbacks record what they get and whose clock the test sets.
class ProtocolTest : public testing::Test {
protected:
    ProtocolTest() : protocol([this] { return now; }) {
        protocol.SetCounters(counters);
        protocol.SetDataCallback([this](const uint32_t id, Bytes payload) {
            const bool ofTheStream = payload.empty() || payload[0] != kNotOfTheStream;
            blocks.push_back({id, std::move(payload)});
            return ofTheStream;
        });
        protocol.SetErrorCallback([this](const uint32_t id, PacketErrorType type, std::string m) {
            errors.push_back({id, type, std::move(m)});
        });
    }

    void Handle(const Bytes& packet) { protocol.HandlePacket(packet); }
    void AdvanceMs(int64_t ms) { now += ms * 1'000'000; }
    std::vector<uint32_t> BlockIds() const {
        std::vector<uint32_t> ids;
        for (const Block& b : blocks) {
            ids.push_back(b.blockId);
        }
        return ids;
    }

    int64_t now = 1'000'000'000;
    StreamCounters counters;
    UdpStreamingProtocol protocol;
    std::vector<Block> blocks;
    std::vector<StreamError> errors;
};

const std::string kTimeoutText = "Didn't receive all consecutive frames within 1000 ms.";

TEST_F(ProtocolTest, ReportsPacketsTooShortForTheHeader) {
    Handle({});
    Handle(Bytes(7, 2));
    Handle(Bytes(1));
    EXPECT_EQ(errors, (std::vector<StreamError>{{0, InvalidPacket, "Packet is null."},
                                                {0, InvalidPacket, "Packet size is 7 bytes."},
                                                {0, InvalidPacket, "Packet size is 1 bytes."}}));
    EXPECT_TRUE(blocks.empty());
}

TEST_F(ProtocolTest, DeliversAWholeBlockWithoutItsHeader) {
    Handle(WholeBlock(3, {0, 1, 2}));
    Handle(WholeBlock(4, {}));
    EXPECT_EQ(blocks, (std::vector<Block>{{3, {0, 1, 2}}, {4, {}}}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(ProtocolTest, IgnoresUnknownKinds) {
    for (uint8_t kind : {3, 5, 255}) {
        Handle(Packet(1, kind, 1, {1, 2}));
    }
    EXPECT_TRUE(blocks.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(ProtocolTest, WorksWithoutCallbacks) {
    UdpStreamingProtocol bare;
    bare.HandlePacket({});
    bare.HandlePacket(WholeBlock(1, {0}));
    bare.HandlePacket(Packet(2, 1, 2, {1}));
    bare.HandlePacket(Packet(2, 2, 1, {2}));
}

struct SequenceCase {
    const char* name;
    std::vector<uint32_t> blockIds;
    std::vector<StreamError> errors;
};

class BlockIdCheck : public ProtocolTest, public testing::WithParamInterface<SequenceCase> {};

TEST_P(BlockIdCheck, ReportsAndDeliversEveryBlock) {
    for (uint32_t id : GetParam().blockIds) {
        Handle(WholeBlock(id, {9}));
    }
    EXPECT_EQ(errors, GetParam().errors);
    EXPECT_EQ(BlockIds(), GetParam().blockIds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockIdCheck,
    testing::Values(
        SequenceCase{"Consecutive", {5, 6, 7}, {}},
        SequenceCase{"LostLateAndTwice",
                     {1, 2, 4, 3, 4},
                     {{4, PacketsLost,
                       "One or more packets lost: Last received blockid was 2, "
                       "received 4."},
                      {3, UnexpectedBlockId, "Received packet with blockid 3, expected 5."},
                      {4, DuplicateBlockId, "Received packet with blockid 4 twice."}}},
        SequenceCase{"FirstBlockIsAcceptedWhateverItsId", {4000000000u}, {}},
        SequenceCase{"ZeroFirstKeepsTheInitialState", {0, 77}, {}},
        SequenceCase{"ZeroAfterSeven",
                     {7, 0},
                     {{0, UnexpectedBlockId, "Received packet with blockid 0, expected 8."}}},
        SequenceCase{"WrapAround", {4294967295u, 0, 5}, {}},
        SequenceCase{"LateBlockKeepsTheLastId",
                     {10, 8, 11},
                     {{8, UnexpectedBlockId, "Received packet with blockid 8, expected 11."}}},
        SequenceCase{"LostAcrossTheWrap",
                     {4294967290u, 3},
                     {{3, PacketsLost,
                       "One or more packets lost: Last received blockid was 4294967290, "
                       "received 3."}}},
        SequenceCase{"TheLargestGapIsLost",
                     {5, 5 + UdpStreamingProtocol::kMaxBlockIdJump},
                     {{65541, PacketsLost,
                       "One or more packets lost: Last received blockid was 5, received 65541."}}},
        SequenceCase{"AFurtherJumpStartsAgain",
                     {5, 6 + UdpStreamingProtocol::kMaxBlockIdJump, 65543},
                     {{65542, UnexpectedBlockId,
                       "Block ids started again: received blockid 65542 after 5."}}},
        SequenceCase{
            "RestartedSensorStartsAgain",
            {900000, 900001, 1, 2},
            {{1, UnexpectedBlockId, "Block ids started again: received blockid 1 after 900001."}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, CountsWhereTheSequenceStartedAgain) {
    for (uint32_t id : {100000u, 100001u, 1u, 2u, 3000000000u}) {
        Handle(WholeBlock(id, {9}));
    }
    EXPECT_EQ(counters.Read().blockIdRestarts, 2u);
    EXPECT_EQ(counters.Read().blocksLost, 0u);
    EXPECT_EQ(counters.Read().blocksOutOfOrder, 0u);
}

// Datagrams that are not blocks of the stream, whatever their ids, neither lose blocks nor
// move the sequence that the stream's blocks follow.
TEST_F(ProtocolTest, OnlyBlocksOfTheStreamMoveTheSequence) {
    Handle(WholeBlock(1, {9}));
    for (uint32_t i = 0; i < 3000; ++i) {
        Handle(WholeBlock(4294967295u - 1000 * i, {kNotOfTheStream}));
    }
    Handle(WholeBlock(2, {9}));
    // One in its place arrived all the same, however unusable: not lost.
    Handle(WholeBlock(3, {kNotOfTheStream}));
    Handle(WholeBlock(4, {9}));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(blocks.size(), 3004u);
    EXPECT_EQ(counters.Read().blocksLost, 0u);
}

TEST_F(ProtocolTest, ReassemblesFramesInIndexOrder) {
    Handle(Packet(9, 1, 3, {1, 1}));
    Handle(Packet(9, 2, 2, {3}));
    EXPECT_TRUE(blocks.empty());
    Handle(Packet(9, 2, 1, {2}));
    EXPECT_EQ(blocks, (std::vector<Block>{{9, {1, 1, 2, 3}}}));
    Handle(Packet(9, 2, 1, {2}));  // its handler is gone
    EXPECT_EQ(blocks.size(), 1u);
    Handle(Packet(10, 1, 1, {7}));  // a block of one frame is complete with its first fragment
    EXPECT_EQ(blocks, (std::vector<Block>{{9, {1, 1, 2, 3}}, {10, {7}}}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(ProtocolTest, InterleavedBlocksCompleteIndependently) {
    Handle(Packet(1, 1, 2, {1}));
    Handle(Packet(2, 1, 2, {2}));
    Handle(Packet(2, 2, 1, {22}));
    Handle(Packet(1, 2, 1, {11}));
    EXPECT_EQ(blocks, (std::vector<Block>{{2, {2, 22}}, {1, {1, 11}}}));
    // Blocks pass the id check when they complete.
    EXPECT_EQ(errors, (std::vector<StreamError>{
                          {1, UnexpectedBlockId, "Received packet with blockid 1, expected 3."}}));
}

TEST_F(ProtocolTest, DropsContinuationsWithoutTheirFirstFragment) {
    Handle(Packet(9, 2, 1, {2}));
    Handle(Packet(9, 2, 2, {3}));
    EXPECT_TRUE(blocks.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(ProtocolTest, LateFirstFragmentTimesOutAtTheFirstPacketAfterItsLimit) {
    Handle(Packet(9, 2, 1, {2}));
    Handle(Packet(9, 1, 2, {1}));
    AdvanceMs(1000);
    Handle(Packet(0, 7, 0, {}));
    EXPECT_TRUE(errors.empty());  // exactly 1000 ms is not yet too late
    AdvanceMs(1);
    Handle(Bytes(3));  // a packet refused by the header check does not sweep
    Handle(Packet(0, 7, 0, {}));
    EXPECT_EQ(errors, (std::vector<StreamError>{{0, InvalidPacket, "Packet size is 3 bytes."},
                                                {9, FragmentTimeout, kTimeoutText}}));
    Handle(Packet(9, 2, 1, {2}));
    EXPECT_TRUE(blocks.empty());
}

TEST_F(ProtocolTest, SameBlockIdTwiceFeedsTheOlderHandler) {
    Handle(Packet(9, 1, 2, {1}));
    AdvanceMs(10);
    Handle(Packet(9, 1, 2, {5}));
    Handle(Packet(9, 2, 1, {2}));
    EXPECT_EQ(blocks, (std::vector<Block>{{9, {1, 2}}}));
    AdvanceMs(1001);
    Handle(Packet(0, 7, 0, {}));
    EXPECT_EQ(errors, (std::vector<StreamError>{{9, FragmentTimeout, kTimeoutText}}));
}

TEST_F(ProtocolTest, ZeroFrameBlockTimesOut) {
    Handle(Packet(4, 1, 0, {1}));
    Handle(Packet(4, 2, 0, {1}));
    AdvanceMs(1001);
    Handle(Packet(4, 2, 0, {1}));
    EXPECT_EQ(errors, (std::vector<StreamError>{{4, FragmentTimeout, kTimeoutText}}));
}

TEST_F(ProtocolTest, TimedOutBlocksAreReportedInCreationOrder) {
    for (uint32_t id : {3, 1, 2}) {
        Handle(Packet(id, 1, 2, {1}));
    }
    AdvanceMs(1500);
    Handle(Packet(0, 7, 0, {}));
    EXPECT_EQ(errors, (std::vector<StreamError>{{3, FragmentTimeout, kTimeoutText},
                                                {1, FragmentTimeout, kTimeoutText},
                                                {2, FragmentTimeout, kTimeoutText}}));
}

TEST_F(ProtocolTest, BoundsTheBlocksInFlightByDroppingTheOldest) {
    const auto limit = static_cast<uint32_t>(UdpStreamingProtocol::kMaxFragmentHandlers);
    for (uint32_t id = 1; id <= limit; ++id) {
        Handle(Packet(id, 1, 65535, {1}));
    }
    EXPECT_TRUE(errors.empty());
    for (uint32_t id = limit + 1; id <= limit + 3; ++id) {
        Handle(Packet(id, 1, 2, {1}));
    }
    EXPECT_EQ(errors, (std::vector<StreamError>{{1, FragmentTimeout, kTimeoutText},
                                                {2, FragmentTimeout, kTimeoutText},
                                                {3, FragmentTimeout, kTimeoutText}}));
    Handle(Packet(1, 2, 1, {2}));  // its handler was dropped
    Handle(Packet(limit + 3, 2, 1, {2}));
    EXPECT_EQ(BlockIds(), (std::vector<uint32_t>{limit + 3}));
}

TEST_F(ProtocolTest, BoundsTheMemoryOfBlocksInFlightByDroppingTheOldest) {
    StreamCounters counters;
    protocol.SetCounters(counters);
    const Bytes frame(1400, 7);
    for (uint32_t id = 1; id <= 3; ++id) {  // three blocks of 12,000 frames: 50 MB
        Handle(Packet(id, 1, 65535, frame));
        for (uint16_t index = 1; index < 12000; ++index) {
            Handle(Packet(id, 2, index, frame));
            ASSERT_LE(protocol.HeldBytes(), UdpStreamingProtocol::kMaxHeldBytes);
        }
    }
    ASSERT_FALSE(errors.empty());
    for (std::size_t i = 0; i < errors.size(); ++i) {  // the oldest went first
        EXPECT_EQ(errors[i],
                  (StreamError{static_cast<uint32_t>(i + 1), FragmentTimeout, kTimeoutText}));
    }
    EXPECT_EQ(counters.Read().fragmentedBlocksTimedOut, errors.size());
    // Without a further datagram, the time limit lets go of the rest.
    AdvanceMs(1001);
    protocol.DropTimedOut();
    EXPECT_EQ(protocol.HeldBytes(), 0u);
    EXPECT_EQ(counters.Read().fragmentedBlocksTimedOut, errors.size());
    EXPECT_EQ(errors.back().blockId, 3u);
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

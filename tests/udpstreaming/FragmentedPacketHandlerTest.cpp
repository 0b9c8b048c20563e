#include "udpstreaming/protocol/FragmentedPacketHandler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "udpstreaming/StreamPackets.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {
namespace {

using Testing::Bytes;
using Testing::Packet;

struct Frame {
    uint16_t index;
    Bytes payload;
    uint32_t blockId = 9;
};

struct ReassemblyCase {
    const char* name;
    uint16_t frameCount;
    Bytes firstPayload;
    std::vector<Frame> frames;
    int completingFrame;  // position in `frames` after which AddFrame returns true; -1: never
    Bytes data;           // GetData at the end
};

class Reassembly : public testing::TestWithParam<ReassemblyCase> {};

TEST_P(Reassembly, CompletesOnceEveryFrameIndexArrived) {
    const ReassemblyCase& c = GetParam();
    FragmentedPacketHandler handler(Packet(9, 1, c.frameCount, c.firstPayload));
    EXPECT_EQ(handler.GetBlockId(), 9u);
    int completedAt = -1;
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
        const Frame& f = c.frames[i];
        const bool complete = handler.AddFrame(Packet(f.blockId, 2, f.index, f.payload));
        if (complete && completedAt < 0) {
            completedAt = static_cast<int>(i);
        }
    }
    EXPECT_EQ(completedAt, c.completingFrame);
    EXPECT_EQ(handler.GetData(), c.data);
    EXPECT_EQ(handler.TakeData(), c.data);
}

// The same in a handler restarted after a block that came out of order, a frame missing, so that
// whatever that block left behind would show.
TEST_P(Reassembly, CompletesTheSameAfterARestart) {
    const ReassemblyCase& c = GetParam();
    FragmentedPacketHandler handler(Packet(7, 1, 5, {9, 9}));
    handler.AddFrame(Packet(7, 2, 3, {8, 8, 8}));
    handler.AddFrame(Packet(7, 2, 1, {7}));
    handler.Block();
    handler.Restart(Packet(9, 1, c.frameCount, c.firstPayload), 0);
    EXPECT_EQ(handler.GetBlockId(), 9u);
    int completedAt = -1;
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
        const Frame& f = c.frames[i];
        if (handler.AddFrame(Packet(f.blockId, 2, f.index, f.payload)) && completedAt < 0) {
            completedAt = static_cast<int>(i);
        }
    }
    EXPECT_EQ(completedAt, c.completingFrame);
    EXPECT_EQ(handler.GetData(), c.data);
    EXPECT_EQ(handler.Block(), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Reassembly,
    testing::Values(
        ReassemblyCase{"InOrder", 3, {1}, {{1, {2, 2}}, {2, {3}}}, 1, {1, 2, 2, 3}},
        ReassemblyCase{"OutOfOrder", 3, {1}, {{2, {3}}, {1, {2, 2}}}, 1, {1, 2, 2, 3}},
        ReassemblyCase{
            "RepeatedFrameCountsOnce", 3, {1}, {{1, {2}}, {1, {2}}, {2, {3}}}, 2, {1, 2, 3}},
        ReassemblyCase{"EmptyFrameCountsOnce", 3, {1}, {{1, {}}, {1, {}}, {2, {3}}}, 2, {1, 3}},
        ReassemblyCase{"FirstIndexAgainIsIgnored", 2, {1}, {{0, {5}}, {1, {2}}}, 1, {1, 2}},
        ReassemblyCase{"IndexBeyondTheCountIsIgnored", 2, {1}, {{2, {7}}, {1, {2}}}, 1, {1, 2}},
        ReassemblyCase{"OtherBlockIsIgnored", 2, {1}, {{1, {7}, 10}, {1, {2}}}, 1, {1, 2}},
        ReassemblyCase{"OneFrameCompletesOnAnyContinuation", 1, {1, 2}, {{5, {9}}}, 0, {1, 2}},
        ReassemblyCase{"OneFrameWaitsForItsOwnBlock", 1, {1, 2}, {{5, {9}, 8}}, -1, {1, 2}},
        ReassemblyCase{"ZeroFramesNeverComplete", 0, {1}, {{0, {1}}, {1, {2}}}, -1, {}},
        ReassemblyCase{"StillMissingAFrame", 4, {1}, {{3, {4}}, {1, {2}}}, -1, {1, 2, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FragmentedPacketHandler, TimesOutOnlyAfterMoreThanItsLimit) {
    const int64_t start = 5'000'000'000;
    FragmentedPacketHandler handler(Packet(9, 1, 2, {1}), start);
    EXPECT_EQ(handler.GetTimeout(), 1000u);
    EXPECT_FALSE(handler.IsTimedOut(start));
    EXPECT_FALSE(handler.IsTimedOut(start + 1'000'000'000));
    EXPECT_TRUE(handler.IsTimedOut(start + 1'000'000'001));
}

TEST(FragmentedPacketHandler, UsesTheMonotonicClockByDefault) {
    FragmentedPacketHandler handler(Packet(9, 1, 2, {1}));
    EXPECT_FALSE(handler.IsTimedOut());
    EXPECT_TRUE(handler.IsTimedOut(FragmentedPacketHandler::Now() + 1'000'000'001));
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

// The profiles lane: the exact bytes of a batch, compression, decimation and batching; the
// clock offset's minimum filter; the bounded publish queue.
#include "ClockOffset.h"
#include "Compression.h"
#include "ProfileBatch.h"
#include "PublishQueue.h"

#include <gtest/gtest.h>

namespace Varkon::QuilGateway::Testing {
namespace {

ArrivedProfile MakeProfile(uint32_t blockId, bool channel1 = false) {
    ArrivedProfile arrived;
    auto& profile = arrived.profile;
    profile.blockId = blockId;
    profile.timestamp = 0x0102030405060708;
    profile.field6 = 0xA1A2A3A4;
    profile.field18 = 0xB1B2;
    profile.qualityID = 3;
    profile.flags = {true, false, false, true};
    profile.pointCount = 2;
    profile.channel0 = {0x1234, 0x5678};
    profile.hasChannel1 = channel1;
    if (channel1) {
        profile.channel1 = {0x0001, 0x0002};
    }
    arrived.arrivalUs = 0x1112131415161718;
    return arrived;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

TEST(ProfileLaneTest, ABatchIsLaidOutLittleEndianAsDocumented) {
    const std::string batch =
        EncodeProfileBatch("ab", {MakeProfile(9, true)}, 3, Compression::None,
                           {ChannelScale{0.5, -1.0}, ChannelScale{}, ChannelScale{}});
    const std::string header = std::string("QPRF") + Bytes({1, 0, 2, 0}) + "ab" +
                               Bytes({1, 0, 0, 0, 3, 0, 0, 0}) +
                               Bytes({0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0xBF}) +
                               Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}) +
                               Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0});
    const std::string profile =
        Bytes({9,    0,    0,    0,    8,    7,    6,    5,    4,    3,    2,
               1,    0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11, 0xA4, 0xA3,
               0xA2, 0xA1, 0xB2, 0xB1, 3,    0x49, 2,    0,    0,    0}) +
        Bytes({0x34, 0x12, 0x78, 0x56, 1, 0, 2, 0});
    EXPECT_EQ(batch, header + profile);
}

TEST(ProfileLaneTest, ACompressedBatchHoldsTheSameProfiles) {
    const std::vector<ArrivedProfile> profiles{MakeProfile(1), MakeProfile(2, true)};
    const std::array<ChannelScale, 3> scales{};
    const std::string plain = EncodeProfileBatch("s", profiles, 1, Compression::None, scales);
    const std::string packed = EncodeProfileBatch("s", profiles, 1, Compression::Zstd, scales);
    const std::size_t headerSize = 4 + 4 + 1 + 8 + 48;
    EXPECT_EQ(packed[5], 1);
    EXPECT_EQ(packed.substr(6, headerSize - 6), plain.substr(6, headerSize - 6));
    EXPECT_EQ(ZstdDecompress(packed.substr(headerSize)), plain.substr(headerSize));
}

TEST(ProfileLaneTest, BatchesHoldEveryKthProfileAndTheirCount) {
    const struct {
        uint32_t perMessage;
        uint32_t decimation;
        uint32_t added;
        std::vector<uint32_t> firstBlocks;  // first block id of each message handed out
        uint32_t leftOver;
    } cases[] = {
        {3, 1, 7, {0, 3}, 1},
        {2, 3, 12, {0, 6}, 0},
        {1, 1, 2, {0, 1}, 0},
        {5, 2, 4, {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.perMessage << " per message, every " << c.decimation);
        SensorSettings settings;
        settings.name = "s";
        settings.profilesPerMessage = c.perMessage;
        settings.decimation = c.decimation;
        ProfileBatcher batcher(settings);
        std::vector<uint32_t> firstBlocks;
        for (uint32_t id = 0; id < c.added; ++id) {
            if (auto message = batcher.Add(MakeProfile(id))) {
                const std::size_t bodyAt = 4 + 4 + 1 + 8 + 48;
                ASSERT_EQ(static_cast<uint8_t>((*message)[9]), c.perMessage);
                ASSERT_EQ(static_cast<uint8_t>((*message)[13]), c.decimation);
                firstBlocks.push_back(static_cast<uint8_t>((*message)[bodyAt]));
            }
        }
        EXPECT_EQ(firstBlocks, c.firstBlocks);
        const auto rest = batcher.Flush();
        EXPECT_EQ(rest.has_value(), c.leftOver > 0);
        if (rest) {
            EXPECT_EQ(static_cast<uint8_t>((*rest)[9]), c.leftOver);
        }
        EXPECT_EQ(batcher.Published(), c.added / c.decimation + (c.added % c.decimation ? 1 : 0));
    }
}

TEST(ProfileLaneTest, TheClockOffsetIsTheWindowsMinimumWithItsSpread) {
    ClockOffset offset(3);
    EXPECT_FALSE(offset.Offset());
    const struct {
        uint64_t arrival;
        uint64_t sensor;
        int64_t minimum;
        int64_t spread;
    } steps[] = {
        {1000, 900, 100, 0},      // 100
        {2000, 1950, 50, 50},     // 50
        {3000, 2800, 50, 150},    // 200
        {4000, 3880, 50, 150},    // 120: the first sample left the window
        {5000, 5100, -100, 300},  // the sensor ahead; 50 left the window
    };
    for (const auto& step : steps) {
        offset.Add(step.arrival, step.sensor);
        EXPECT_EQ(offset.Offset(), step.minimum);
        EXPECT_EQ(offset.Spread(), step.spread);
    }
}

TEST(ProfileLaneTest, AFullQueueDropsItsOldestAndCountsThem) {
    const struct {
        PublishQueueLimits limits;
        std::size_t payloadSize;
        std::size_t pushed;
        std::size_t kept;
    } cases[] = {
        {{3, 1 << 20}, 10, 5, 3},
        {{100, 250}, 95, 5, 2},  // 100 bytes each with the topic
        {{100, 50}, 95, 2, 1},   // one message over the byte limit still goes
        {{100, 1 << 20}, 10, 5, 5},
    };
    for (const auto& c : cases) {
        PublishQueue queue(c.limits);
        for (std::size_t i = 0; i < c.pushed; ++i) {
            queue.Push({"t" + std::to_string(i) + "xxx", std::string(c.payloadSize, 'x'), 0, {}});
        }
        EXPECT_EQ(queue.Size(), c.kept);
        EXPECT_EQ(queue.Dropped(), c.pushed - c.kept);
        EXPECT_EQ(queue.TryPop()->topic, "t" + std::to_string(c.pushed - c.kept) + "xxx");
    }
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

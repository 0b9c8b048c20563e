#include "udpstreaming/protocol/PayloadDecoder.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/ExpectThrow.h"
#include "udpstreaming/StreamPackets.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {
namespace {

using Testing::Bytes;
using Testing::Throws;

TEST(DecodeMeasurement, ReadsEveryFieldFromItsOffset) {
    Testing::MeasurementFields fields;
    fields.flagBytes[1] = 7;  // payload byte 2
    fields.flagBytes[4] = 1;  // payload byte 6
    fields.qualityId = 200;
    for (int i = 0; i < 7; ++i) {
        fields.values[i] = 0.5f + static_cast<float>(i);
    }
    fields.measrate = 2500.25f;
    fields.seconds = 2;
    fields.microseconds = 500;
    fields.encoder = 65535;

    StreamMeasurement expected;
    expected.blockId = 42;
    expected.qualityID = 200;
    expected.flags = {false, true, false, false, true, false};
    expected.EncoderValue = 65535;
    expected.measrate = 2500.25;
    expected.timestamp = 2000500;
    expected.values = {0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5};
    EXPECT_TRUE(DecodeMeasurement(42, Testing::MeasurementPayload(fields)) == expected);
}

TEST(DecodeMeasurement, TimestampDoesNotOverflow32Bits) {
    Testing::MeasurementFields fields;
    fields.seconds = 4294967295u;
    fields.microseconds = 999999;
    EXPECT_EQ(DecodeMeasurement(1, Testing::MeasurementPayload(fields)).timestamp,
              4294967295ull * 1000000ull + 999999ull);
}

TEST(DecodeMeasurement, RefusesEveryLengthButFifty) {
    for (std::size_t length : {0, 1, 40, 49, 51, 2040}) {
        EXPECT_TRUE(
            Throws<std::invalid_argument>([&] { DecodeMeasurement(1, Bytes(length)); },
                                          "Expected 50 bytes, got " + std::to_string(length)));
    }
}

TEST(DecodeProfile, ReadsTheHeaderFields) {
    Testing::ProfileFields fields;
    fields.dataId = 1;
    fields.flagBytes[0] = 1;
    fields.flagBytes[3] = 255;
    fields.qualityId = 9;
    fields.field6 = 0xA1B2C3D4;
    fields.seconds = 3;
    fields.microseconds = 17;
    fields.field18 = 0xBEEF;
    const StreamProfile profile = DecodeProfile(77, Testing::ProfilePayload(fields, {}));
    EXPECT_EQ(profile.blockId, 77u);
    EXPECT_EQ(profile.flags, (std::array<bool, 4>{true, false, false, true}));
    EXPECT_EQ(profile.qualityID, 9);
    EXPECT_EQ(profile.field6, 0xA1B2C3D4u);
    EXPECT_EQ(profile.timestamp, 3000017u);
    EXPECT_EQ(profile.field18, 0xBEEF);
    EXPECT_EQ(profile.pointCount, 0u);
}

struct ProfileCase {
    const char* name;
    uint8_t dataId;
    uint32_t pointCount;
    std::vector<uint16_t> words;  // point bytes after the header
    std::vector<uint16_t> channel0, channel1, channel2;
    bool hasChannel1, hasChannel2;
};

class DecodeProfileLayout : public testing::TestWithParam<ProfileCase> {};

TEST_P(DecodeProfileLayout, FillsTheChannelsOfItsDataId) {
    const ProfileCase& c = GetParam();
    Testing::ProfileFields fields;
    fields.dataId = c.dataId;
    fields.pointCount = c.pointCount;
    const auto payload = Testing::ProfilePayload(fields, c.words);
    const StreamProfile profile = DecodeProfile(5, payload);
    EXPECT_EQ(profile.pointCount, c.pointCount);
    EXPECT_EQ(profile.channel0, c.channel0);
    EXPECT_EQ(profile.channel1, c.channel1);
    EXPECT_EQ(profile.channel2, c.channel2);
    EXPECT_EQ(profile.hasChannel1, c.hasChannel1);
    EXPECT_EQ(profile.hasChannel2, c.hasChannel2);

    // Into the channels of a larger profile decoded before, nothing of that one stays.
    StreamProfile reused = DecodeProfile(9, Testing::SyntheticProfile(3, 8));
    DecodeProfileInto(5, payload, reused);
    EXPECT_TRUE(reused == profile);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeProfileLayout,
    testing::Values(
        ProfileCase{
            "Id3TwoWholePoints", 3, 2, {1, 2, 3, 4, 5, 6}, {1, 4}, {2, 5}, {3, 6}, true, true},
        ProfileCase{"Id1HasNoChannel2", 1, 2, {1, 2, 3, 4}, {1, 3}, {2, 4}, {}, true, false},
        ProfileCase{"Id2HasNoChannel1", 2, 2, {1, 2, 3, 4}, {1, 3}, {}, {2, 4}, false, true},
        ProfileCase{"MissingPointsReadZero",
                    1,
                    5,
                    {1, 2, 3, 4, 5, 6},
                    {1, 3, 5, 0, 0},
                    {2, 4, 6, 0, 0},
                    {},
                    true,
                    false},
        ProfileCase{
            "HeaderOnlyGivesZeros", 3, 4, {}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, true, true},
        ProfileCase{"BytesAfterTheLastPointAreIgnored", 1, 1, {1, 2, 3}, {1}, {2}, {}, true, false},
        ProfileCase{"NoPoints", 2, 0, {}, {}, {}, {}, false, true},
        ProfileCase{
            "LittleEndianValues", 1, 1, {0x1234, 0xFFFE}, {0x1234}, {0xFFFE}, {}, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Long profiles, whose points are copied many at a time and then the last few one by one: every
// value lands in its channel at its index, whichever count of points ends the run.
TEST(DecodeProfile, SplitsLongProfilesIntoTheirChannels) {
    for (const uint8_t dataId : {1, 2, 3}) {
        for (const uint32_t points : {15u, 16u, 17u, 64u, 301u}) {
            SCOPED_TRACE("data id " + std::to_string(dataId) + ", " + std::to_string(points) +
                         " points");
            // SyntheticProfile's words count up by 7 from 1, point after point.
            const std::size_t channels = dataId == 3 ? 3 : 2;
            std::vector<uint16_t> expected[3];
            for (std::size_t i = 0; i < points; ++i) {
                for (std::size_t c = 0; c < channels; ++c) {
                    const std::size_t channel = dataId == 2 && c == 1 ? 2 : c;
                    expected[channel].push_back(static_cast<uint16_t>((i * channels + c) * 7 + 1));
                }
            }
            const StreamProfile profile =
                DecodeProfile(1, Testing::SyntheticProfile(dataId, points));
            EXPECT_EQ(profile.channel0, expected[0]);
            EXPECT_EQ(profile.channel1, expected[1]);
            EXPECT_EQ(profile.channel2, expected[2]);
        }
    }
}

TEST(DecodeProfile, FailsWhenTheHeaderIsCut) {
    for (std::size_t length : {0, 1, 23}) {
        Bytes payload(length, 0);
        if (length > 0) {
            payload[0] = 1;
        }
        EXPECT_THROW(DecodeProfile(1, payload), std::out_of_range) << length;
    }
}

TEST(DecodeProfile, FailsWhenAPointIsCut) {
    Testing::ProfileFields fields;
    fields.dataId = 3;
    fields.pointCount = 2;
    Bytes payload = Testing::ProfilePayload(fields, {1, 2, 3, 4});  // one point and a third
    EXPECT_THROW(DecodeProfile(1, payload), std::out_of_range);
    payload.push_back(0);  // an odd byte inside the point
    EXPECT_THROW(DecodeProfile(1, payload), std::out_of_range);
}

TEST(DecodeProfile, RefusesPointCountsThatNoBlockCanHold) {
    // A block is at most 65535 frames of 2040 bytes; the header takes 24 of them.
    struct Case {
        uint8_t dataId;
        uint32_t pointCount;
        const char* text;
    } cases[] = {
        {1, 33422845, "Point count 33422845 exceeds the 33422844 points that a block can hold."},
        {2, 4294967295u,
         "Point count 4294967295 exceeds the 33422844 points that a block can hold."},
        {3, 22281897, "Point count 22281897 exceeds the 22281896 points that a block can hold."},
    };
    for (const Case& c : cases) {
        Testing::ProfileFields fields;
        fields.dataId = c.dataId;
        fields.pointCount = c.pointCount;
        EXPECT_TRUE(Throws<std::length_error>(
            [&] { DecodeProfile(1, Testing::ProfilePayload(fields, {})); }, c.text));
    }
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

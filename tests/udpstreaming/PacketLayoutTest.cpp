// The encoder of the virtual sensor and the library's decoder each write the stream's layout
// down on their own; both are held here against datagrams spelled out byte by byte.
#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/protocol/PayloadDecoder.h"

#include <gtest/gtest.h>

#include "udpstreaming/StreamPackets.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {
namespace {

using Testing::Bytes;

const Bytes kMeasurementDatagram = {
    0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00,  // block 0x01020304, whole block
    0x00, 0x01, 0x00, 0x01, 0x00, 0x09, 0x00, 0x01,  // flags at 1 to 4, 6, 7; quality 9 at 5
    0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,  // values 1 to 7 as float32
    0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x80, 0x40, 0x00, 0x00, 0xA0, 0x40,
    0x00, 0x00, 0xC0, 0x40, 0x00, 0x00, 0xE0, 0x40, 0x00, 0x00, 0x00, 0x3F,  // measrate 0.5
    0x44, 0x33, 0x22, 0x11,                                                  // seconds
    0x3F, 0x42, 0x0F, 0x00,                                                  // microseconds 999999
    0xCD, 0xAB,                                                              // encoder
};

const Bytes kProfileDatagram = {
    0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // block 7, whole block
    0x01, 0x01, 0x00, 0x00, 0x01, 0x02,              // data id 1, flags, quality 2
    0xD4, 0xC3, 0xB2, 0xA1,                          // field6
    0x03, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00,  // 3 s, 17 us
    0xEF, 0xBE,                                      // field18
    0x02, 0x00, 0x00, 0x00,                          // two points
    0x34, 0x12, 0x00, 0x80, 0x01, 0x00, 0xFF, 0xFF,  // (z, x) twice
};

Bytes Payload(const Bytes& datagram) {
    return Bytes(datagram.begin() + 8, datagram.end());
}

TEST(PacketLayout, MeasurementBytes) {
    Testing::MeasurementFields fields{
        {1, 0, 1, 0, 0, 1}, 9, {1, 2, 3, 4, 5, 6, 7}, 0.5f, 0x11223344, 999999, 0xABCD};
    EXPECT_EQ(Testing::WholeBlock(0x01020304, Testing::MeasurementPayload(fields)),
              kMeasurementDatagram);

    EXPECT_EQ(PacketHeader::BlockId(kMeasurementDatagram), 0x01020304u);
    EXPECT_EQ(PacketHeader::Kind(kMeasurementDatagram), kWholeBlock);
    StreamMeasurement expected;
    expected.blockId = 0x01020304;
    expected.qualityID = 9;
    expected.flags = {true, false, true, false, false, true};
    expected.values = {1, 2, 3, 4, 5, 6, 7};
    expected.measrate = 0.5;
    expected.timestamp = 0x11223344ull * 1000000 + 999999;
    expected.EncoderValue = 0xABCD;
    EXPECT_TRUE(DecodeMeasurement(0x01020304, Payload(kMeasurementDatagram)) == expected);
}

TEST(PacketLayout, ProfileBytes) {
    Testing::ProfileFields fields{1, {1, 0, 0, 1}, 2, 0xA1B2C3D4, 3, 17, 0xBEEF, 2};
    EXPECT_EQ(Testing::WholeBlock(7, Testing::ProfilePayload(fields, {0x1234, 0x8000, 1, 0xFFFF})),
              kProfileDatagram);

    const StreamProfile profile = DecodeProfile(7, Payload(kProfileDatagram));
    EXPECT_EQ(profile.flags, (std::array<bool, 4>{true, false, false, true}));
    EXPECT_EQ(profile.qualityID, 2);
    EXPECT_EQ(profile.field6, 0xA1B2C3D4u);
    EXPECT_EQ(profile.timestamp, 3000017u);
    EXPECT_EQ(profile.field18, 0xBEEF);
    EXPECT_EQ(profile.channel0, (std::vector<uint16_t>{0x1234, 1}));
    EXPECT_EQ(profile.channel1, (std::vector<uint16_t>{0x8000, 0xFFFF}));
    EXPECT_TRUE(profile.channel2.empty());
}

TEST(PacketLayout, FragmentHeaders) {
    const auto fragments = Testing::Fragments(10, Bytes(3000, 0xEE));
    ASSERT_EQ(fragments.size(), 2u);
    const Bytes first(fragments[0].begin(), fragments[0].begin() + 8);
    const Bytes second(fragments[1].begin(), fragments[1].begin() + 8);
    EXPECT_EQ(first, (Bytes{0x0A, 0, 0, 0, 0x01, 0, 0x02, 0}));   // first of two frames
    EXPECT_EQ(second, (Bytes{0x0A, 0, 0, 0, 0x02, 0, 0x01, 0}));  // frame 1
    EXPECT_EQ(fragments[0].size(), 2048u);
    EXPECT_EQ(PacketHeader::Kind(fragments[0]), kFirstFragment);
    EXPECT_EQ(PacketHeader::FrameNumber(fragments[0]), 2);
    EXPECT_EQ(PacketHeader::Kind(fragments[1]), kFragment);
    EXPECT_EQ(PacketHeader::FrameNumber(fragments[1]), 1);
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

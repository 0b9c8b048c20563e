// ProfileCoordinates: raw profile coordinates to millimetres, from the sensor's descriptions.
#include <quil/ProfileCoordinates.h>

#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace Varkon::QUILApi {
namespace {

using Testing::Throws;
using UdpStreaming::StreamProfile;

// The virtual sensor's descriptions (README, "The virtual sensor"): hundredths of a millimetre,
// x counting from 32768, z 0 where there is no point, z as height above the far limit.
ProfileDescription VirtualSensor() {
    ProfileDescription d;
    d.profileMeta = {1280, "mm", "mm"};
    d.fovMeta = {"mm", "mm", 2, 2};
    d.fovDistance = {-60.0, 60.0, 250.0, 380.0};
    d.zAxisDefinitionID = 1;
    d.axesMeta = {{{0, "Distance from sensor"}, {1, "Height above far limit"}}};
    return d;
}

// A made-up sensor: micrometres, other precisions, other offsets, distance from the sensor,
// field of view in centimetres and given right to left.
ProfileDescription MadeUp() {
    ProfileDescription d;
    d.profileMeta = {100, "um", "um"};
    d.fovMeta = {"cm", "cm", 1, 0};
    d.fovDistance = {5.0, -5.0, 10.0, 30.0};
    d.zAxisDefinitionID = 0;
    d.axesMeta = {{{0, "Distance from sensor"}}};
    return d;
}

StreamProfile Streamed(std::vector<uint16_t> z, std::vector<uint16_t> x,
                       std::vector<uint16_t> brightness, uint32_t pointCount) {
    StreamProfile p;
    p.pointCount = pointCount;
    p.channel0 = std::move(z);
    p.hasChannel1 = !x.empty();
    p.channel1 = std::move(x);
    p.hasChannel2 = !brightness.empty();
    p.channel2 = std::move(brightness);
    return p;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void ExpectValues(const std::vector<double>& expected, const std::vector<double>& actual,
                  const char* what) {
    ASSERT_EQ(expected.size(), actual.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (std::isnan(expected[i])) {
            EXPECT_TRUE(std::isnan(actual[i])) << what << "[" << i << "] = " << actual[i];
        } else {
            EXPECT_NEAR(expected[i], actual[i], 1e-9) << what << "[" << i << "]";
        }
    }
}

TEST(ProfileCoordinatesTest, StreamedProfilesBecomeMillimetres) {
    struct Case {
        const char* name;
        ProfileDescription description;
        StreamWordEncoding encoding;
        StreamProfile profile;
        ProfilePoints expected;
    };
    const Case cases[] = {
        {"virtual sensor, x, z and brightness",
         VirtualSensor(),
         {},
         Streamed({12345, 0, 1}, {32768, 30768, 65535}, {200, 17, 255}, 3),
         {{0.0, -20.0, 327.67}, {123.45, kNaN, 0.01}, {200, kNaN, 255}}},
        {"virtual sensor, z only; points the block lacks have none",
         VirtualSensor(),
         {},
         Streamed({100}, {}, {}, 3),
         {{}, {1.0, kNaN, kNaN}, {}}},
        {"made-up sensor, other precisions and offsets",
         MadeUp(),
         {1000, 500, 65535},
         Streamed({500, 1500, 65535, 0}, {1000, 1010, 0, 2000}, {}, 4),
         {{0.0, 0.001, -0.1, 0.1}, {0.0, 1.0, kNaN, -0.5}, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProfileCoordinates coordinates(c.description, c.encoding);
        const ProfilePoints points = coordinates.Convert(c.profile);
        ExpectValues(c.expected.x, points.x, "x");
        ExpectValues(c.expected.z, points.z, "z");
        ExpectValues(c.expected.brightness, points.brightness, "brightness");
    }
}

TEST(ProfileCoordinatesTest, RequestedProfilesAndFieldOfView) {
    struct Case {
        const char* name;
        ProfileDescription description;
        uint32_t prec;
        ProfilePoints expected;
        ProfileCoordinates::Range x, z;
        const char* zName;
    };
    const Case cases[] = {
        {"virtual sensor",
         VirtualSensor(),
         2,
         {{-12.5, 3.0}, {40.0, 0.07}, {9, 8}},
         {-60.0, 60.0},
         {0.0, 130.0},
         "Height above far limit"},
        {"made-up sensor",
         MadeUp(),
         1,
         {{-1.25, 0.03}, {0.4, 0.0007}, {9, 8}},
         {-50.0, 50.0},
         {100.0, 300.0},
         "Distance from sensor"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AugmentedProfile requested;
        requested.prec = c.prec;
        requested.xValues = {-1250, 300};
        requested.zValues = {4000, 7};
        requested.brightness = {9, 8};
        if (c.prec == 1) {  // the made-up sensor's micrometres
            requested.xValues = {-12500, 300};
        }
        const ProfileCoordinates coordinates(c.description);
        const ProfilePoints points = coordinates.Convert(requested);
        ExpectValues(c.expected.x, points.x, "x");
        ExpectValues(c.expected.z, points.z, "z");
        ExpectValues(c.expected.brightness, points.brightness, "brightness");
        EXPECT_DOUBLE_EQ(c.x.low, coordinates.XRange().low);
        EXPECT_DOUBLE_EQ(c.x.high, coordinates.XRange().high);
        EXPECT_DOUBLE_EQ(c.z.low, coordinates.ZRange().low);
        EXPECT_DOUBLE_EQ(c.z.high, coordinates.ZRange().high);
        EXPECT_EQ(c.zName, coordinates.ZAxisName());
    }
}

TEST(ProfileCoordinatesTest, RecordingDescriptionsAndUnknownUnits) {
    const ProfileCoordinates fromRecording = ProfileCoordinates::FromRecordingDescription(
        R"({"sensor": {"ProfileMeta": {"maxLength": 1280, "xUnit": "mm", "zUnit": "mm"},
            "FoVMeta": {"xUnit": "mm", "zUnit": "mm", "xPrec": 2, "zPrec": 2},
            "FoVDistance": {"limitLeft": -60, "limitRight": 60, "near": 250, "far": 380},
            "Axes": {"zAxisDefinitionID": 1},
            "AxesMeta": {"zAxisDefinitions": [{"id": 1, "name": "Height above far limit"}]}}})");
    EXPECT_DOUBLE_EQ(-20.0, fromRecording.StreamX(30768));
    EXPECT_DOUBLE_EQ(130.0, fromRecording.ZRange().high);

    EXPECT_TRUE(Throws<std::invalid_argument>(
        [] { ProfileCoordinates::FromRecordingDescription(R"({"port": 5000})"); },
        "The recording's description holds no profile descriptions."));
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [] { ProfileCoordinates::FromRecordingDescription("not json"); },
        "The recording's description holds no profile descriptions."));
    ProfileDescription feet = VirtualSensor();
    feet.profileMeta.zUnit = "ft";
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { (void)ProfileCoordinates(feet); },
                                              "Unknown length unit \"ft\"."));
}

TEST(ProfileCoordinatesTest, StreamProfileNamesItsHeaderFields) {
    StreamProfile profile;
    profile.field6 = 123456;
    profile.field18 = 4321;
    EXPECT_EQ(123456u, profile.AcquisitionIndex());
    EXPECT_EQ(4321u, profile.EncoderCount());
}

}  // namespace
}  // namespace Varkon::QUILApi

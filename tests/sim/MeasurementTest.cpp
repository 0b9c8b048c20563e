// Triggers, measurement values, profiles and camera images of the virtual sensor, through the
// library: what a request returns is the latest acquisition as the sensor computes it.
#include "Measurements.h"
#include "SimSupport.h"
#include "support/ExpectThrow.h"
#include "support/ReadFile.h"
#include "support/RunCommand.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>

namespace Varkon::QUILApi {
namespace {

using Sim::VirtualSensor;
using std::chrono::seconds;
using Testing::Connected;
using Testing::RunCommand;
using Testing::SimOptions;
using Testing::TestAddress;
using Testing::TestPort;
using Testing::Throws;
using Testing::WaitUntil;

const std::string kRefusedTrigger =
    "SET returned an error: Invalid parameters passed for resource <Trigger>";

TEST(SimTriggerTest, TheMetaAndLimitsStateWhatTheSensorAccepts) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "maintenance");
    EXPECT_EQ(client->GetTrigger(), (Trigger{0, 0, 10000, 20}));  // 100 profiles per second
    const auto limits = client->GetTriggerLimits();
    EXPECT_EQ(limits, (TriggerLimits{100, 1000000, 1, 10000}));
    const auto meta = client->GetTriggerMeta();
    EXPECT_EQ(meta.timeUnit, "us");
    ASSERT_EQ(meta.triggerModes.size(), 4u);
    ASSERT_EQ(meta.options.size(), 5u);

    // Every mode with every option: accepted exactly when the mode lists the option.
    for (const auto& mode : meta.triggerModes) {
        for (const auto& option : meta.options) {
            const Trigger before = client->GetTrigger();
            const Trigger wanted{mode.id, option.id, limits.minTime, limits.maxSteps};
            const bool listed = std::find(mode.options.begin(), mode.options.end(), option.id) !=
                                mode.options.end();
            if (listed) {
                client->SetTrigger(wanted);
                EXPECT_EQ(client->GetTrigger(), wanted) << mode.name << ", " << option.name;
            } else {
                EXPECT_TRUE(Throws<std::invalid_argument>([&] { client->SetTrigger(wanted); },
                                                          kRefusedTrigger))
                    << mode.name << ", " << option.name;
                EXPECT_EQ(client->GetTrigger(), before);
            }
        }
    }

    client->SetTrigger(0, 0, limits.maxTime, limits.minSteps);
    const std::function<void()> outOfLimits[] = {
        [&] { client->SetTrigger(0, 0, limits.minTime - 1, 20); },
        [&] { client->SetTrigger(0, 0, limits.maxTime + 1, 20); },
        [&] { client->SetTrigger(0, 0, 1000, limits.minSteps - 1); },
        [&] { client->SetTrigger(0, 0, 1000, limits.maxSteps + 1); },
        [&] { client->SetTrigger(static_cast<uint32_t>(meta.triggerModes.size()), 0, 1000, 20); },
    };
    for (const auto& write : outOfLimits) {
        EXPECT_TRUE(Throws<std::invalid_argument>(write, kRefusedTrigger));
    }
    EXPECT_EQ(client->GetTrigger(), (Trigger{0, 0, limits.maxTime, limits.minSteps}));

    client->SetTrigger(1, 0, limits.maxTime, 20);
    client->TriggerFire(0);
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { client->TriggerFire(1000001); },
        "SET returned an error: Invalid parameters passed for resource <TriggerFire>"));
}

TEST(SimMeasurementTest, TheMetaResourcesDescribeTheData) {
    auto options = SimOptions(TestAddress());
    options.pointsPerProfile = 1000;
    VirtualSensor sensor(options);
    auto client = Connected(TestAddress());
    const auto meta = client->GetMeasurementMeta();
    EXPECT_EQ(meta.timestampUnits, (std::vector<std::string>{"s", "us"}));
    EXPECT_EQ(meta.qualityValues,
              (std::vector<IdNameEntry>{{0, "Valid"}, {1, "Partial"}, {2, "No signal"}}));
    EXPECT_EQ(meta.measrateUnit, "Hz");
    EXPECT_EQ(meta.measratePrec, 1u);
    const auto types = client->GetMeasurementValuesMeta().types;
    ASSERT_EQ(types.size(), 4u);
    EXPECT_EQ(types[0], (MeasurementTypeEntry{0, "Height", "Object height", "Object height", "mm",
                                              0.01, 0.0, 300.0}));
    EXPECT_EQ(types[2].min, -100.0);
    EXPECT_EQ(client->GetMeasurementValues().values.size(), types.size());

    EXPECT_EQ(client->GetProfileMeta(), (ProfileMeta{1000, "mm", "mm"}));
    EXPECT_EQ(client->GetImageMeta(), (ImageMeta{480, 1000, 480000}));
    EXPECT_LE(client->GetProfile().length, 1000u);
    const auto image = client->GetImage();
    EXPECT_EQ(image.pixels.size(), std::size_t{image.roiWidth} * image.roiHeight);
    EXPECT_LE(image.columnOffset + image.roiWidth, 1000u);
    EXPECT_LE(image.rowOffset + image.roiHeight, 480u);
}

Profile ExpectedProfile(const Sim::Acquired& acquired) {
    Profile profile{acquired.quality, acquired.timeUs, 2, 0, 0, {}, {}};
    for (std::size_t i = 0; i < acquired.x.size(); ++i) {
        if (acquired.valid[i]) {
            profile.xValues.push_back(Sim::Hundredths(acquired.x[i]));
            profile.zValues.push_back(Sim::Hundredths(acquired.z[i]));
        }
    }
    profile.length = static_cast<uint32_t>(profile.xValues.size());
    profile.xStart = profile.xValues.empty() ? 0 : profile.xValues[0];
    return profile;
}

void ExpectValuesOf(const Sim::Acquired& acquired, const MeasurementValues& got) {
    EXPECT_EQ(got.qualityID, acquired.quality);
    EXPECT_FALSE(got.configmode);
    EXPECT_EQ(got.valuesAreValid, acquired.quality != 2);
    EXPECT_EQ(got.alarm, acquired.alarm);
    EXPECT_EQ(got.digitalOuts, (std::vector<bool>{acquired.objectPresent, acquired.alarm}));
    EXPECT_EQ(got.EncoderValue, acquired.encoder);
    EXPECT_EQ(got.measrate, acquired.rate);
    EXPECT_EQ(got.timestamp, acquired.timeUs);
    ASSERT_EQ(got.values.size(), acquired.values.size());
    for (std::size_t i = 0; i < acquired.values.size(); ++i) {
        if (std::isnan(acquired.values[i])) {
            EXPECT_TRUE(std::isnan(got.values[i])) << "value " << i;
        } else {
            EXPECT_EQ(got.values[i], std::round(acquired.values[i] * 100.0) / 100.0)
                << "value " << i;
        }
    }
}

struct Setting {
    const char* name;
    std::function<void(Quil&)> apply;
};

const Setting kSettings[] = {
    {"factory", [](Quil&) {}},
    {"coarser resolution", [](Quil& q) { q.SetResolution(2, 4); }},
    {"distance axis", [](Quil& q) { q.SetAxes(0); }},
    {"moving average", [](Quil& q) { q.SetProfileFilter(true, 5); }},
    {"resampled", [](Quil& q) { q.SetResampling(true, 0.25); }},
    {"narrow field of view", [](Quil& q) { q.SetFoV(-30.0, 50.0, 170.0, 60.0); }},
    {"weak laser",
     [](Quil& q) {
         q.SetLaserPower(0.05);
         q.SetExposureTime(100);
     }},
};

// Each setting in turn: one software trigger acquires one profile, which the stream carries with
// its acquisition number; every request then returns that acquisition.
TEST(SimMeasurementTest, RequestsReturnTheLatestAcquisitionAsComputed) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "maintenance");
    auto stream = client->GetStream();
    stream->Start();
    for (const auto& setting : kSettings) {
        SCOPED_TRACE(setting.name);
        client->AllSettingsReset();
        client->SetTrigger(1, 0, 100, 20);
        setting.apply(*client);
        client->SetUDPStreamData({{3}});
        client->SetProcessInterfaces(false, false, 0, true, "127.0.0.1", TestPort(), 0);
        client->TriggerFire(1);
        ASSERT_TRUE(WaitUntil([&] { return stream->GetProfileCount() == 1; }, seconds(10)));
        const auto streamed = stream->PopProfile();

        const auto acquired = sensor.Capture(streamed.field6, streamed.timestamp);
        const Profile expected = ExpectedProfile(acquired);
        EXPECT_EQ(client->GetProfile(), expected);
        std::vector<int32_t> brightness;
        for (std::size_t i = 0; i < acquired.x.size(); ++i) {
            if (acquired.valid[i]) {
                brightness.push_back(acquired.brightness[i]);
            }
        }
        EXPECT_EQ(client->GetAugmentedProfile(),
                  (AugmentedProfile{expected.qualityID, expected.timestamp, expected.prec,
                                    expected.xStart, expected.length, expected.xValues,
                                    expected.zValues, brightness}));
        ExpectValuesOf(acquired, client->GetMeasurementValues());

        const auto picture = sensor.Photograph(streamed.field6, streamed.timestamp);
        EXPECT_EQ(client->GetImage(), (Image{picture.roiHeight, picture.roiWidth, picture.rowOffset,
                                             picture.columnOffset, 1, 1, picture.pixels}));
    }
    EXPECT_FALSE(stream->HasError());
}

TEST(SimImageTest, ASavedCameraImageIsAGreyMapOfTheRegionOfInterest) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "maintenance");
    client->SetFoV(-40.0, 20.0, 130.0, 80.0);
    const auto image = client->GetImage();
    ASSERT_EQ(image.pixels.size(), std::size_t{image.roiWidth} * image.roiHeight);
    const std::string path = ::testing::TempDir() + "quil_sim_camera.pgm";
    client->SaveImage(path, image);

    const auto header =
        "P5\n" + std::to_string(image.roiWidth) + " " + std::to_string(image.roiHeight) + "\n255\n";
    EXPECT_EQ(Testing::ReadFile(path),
              header + std::string(image.pixels.begin(), image.pixels.end()));
    const auto [kind, status] = RunCommand("/usr/bin/pamfile '" + path + "' 2>&1");
    EXPECT_EQ(status, 0) << kind;
    EXPECT_NE(kind.find("PGM raw, " + std::to_string(image.roiWidth) + " by " +
                        std::to_string(image.roiHeight) + "  maxval 255"),
              std::string::npos)
        << kind;
    std::remove(path.c_str());
}

}  // namespace
}  // namespace Varkon::QUILApi

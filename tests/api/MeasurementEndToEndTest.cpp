// Measurement values, profiles, images and image files end to end: the client against the
// in-process test sensor.
#include "TestSensor.h"
#include "support/Base64Encode.h"
#include "support/ReadFile.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include "support/TestAddresses.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;

TEST(MeasurementEndToEnd, ACameraImageTravelsWhole) {
    std::vector<uint8_t> pixels(1280 * 1024);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(i * 31 + i / 1280);
    }
    Sim::TestSensor sensor(Testing::TestAddress());
    sensor.SetResource("Image", {{"roiHeight", 1024},
                                 {"roiWidth", 1280},
                                 {"rowOffset", 0},
                                 {"columnOffset", 0},
                                 {"rowBinning", 1},
                                 {"colBinning", 1},
                                 {"pixels", Testing::Base64Encode(pixels)}});
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    const Image image = client->GetImage();
    EXPECT_EQ(image, (Image{1024, 1280, 0, 0, 1, 1, pixels}));

    const std::string path = ::testing::TempDir() + "quil_end_to_end.pgm";
    client->SaveImage(path, image);
    EXPECT_EQ(Testing::ReadFile(path),
              "P5\n1280 1024\n255\n" + std::string(pixels.begin(), pixels.end()));
    std::remove(path.c_str());
    client->Disconnect();
}

TEST(MeasurementEndToEnd, ValuesAndProfiles) {
    Sim::TestSensor sensor(Testing::TestAddress());
    sensor.SetResource("MeasurementValues", {{"qualityID", 0},
                                             {"configmode", false},
                                             {"valuesAreValid", true},
                                             {"alarm", true},
                                             {"digitalOuts", {false, true}},
                                             {"EncoderValue", 17},
                                             {"measrate", 250.5},
                                             {"timestamp", {1700000000, 123456}},
                                             {"values", {0.25, "INF", "-INF", "---"}}});
    sensor.SetResource("AugmentedProfile", {{"qualityID", 1},
                                            {"timestamp", {2, 5}},
                                            {"prec", 3},
                                            {"xStart", -100},
                                            {"length", 2},
                                            {"points", {-100, 4000, -50, 4100}},
                                            {"brightness", {200, 210}}});
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    const auto values = client->GetMeasurementValues();
    EXPECT_EQ(values.timestamp, 1700000000123456u);
    EXPECT_EQ(values.digitalOuts, (std::vector<bool>{false, true}));
    ASSERT_EQ(values.values.size(), 4u);
    EXPECT_EQ(values.values[0], 0.25);
    EXPECT_TRUE(std::isinf(values.values[1]) && values.values[1] > 0);
    EXPECT_TRUE(std::isinf(values.values[2]) && values.values[2] < 0);
    EXPECT_TRUE(std::isnan(values.values[3]));
    EXPECT_EQ(client->GetAugmentedProfile(),
              (AugmentedProfile{1, 2000005u, 3, -100, 2, {-100, -50}, {4000, 4100}, {200, 210}}));
    client->TriggerFire(3);
    EXPECT_EQ(sensor.GetResource("TriggerFire"), (json{{"count", 3}}));
    client->Disconnect();
}

}  // namespace
}  // namespace Varkon::QUILApi

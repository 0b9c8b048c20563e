// Every configuration setter against the test sensor, read back with its getter: the keys the
// setters write are the keys the getters read.
#include "TestSensor.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include "support/TestAddresses.h"

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;

TEST(ConfigurationSensorTest, WhatIsWrittenReadsBackTheSame) {
    Sim::TestSensor sensor(Testing::TestAddress());
    sensor.SetResource("ProcessInterfaces", {{"enableModbus", true}, {"vendorSpecific", 7}});
    auto quil = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    quil->Connect();

    const Timeserver timeserver{true, {"192.0.2.123", "192.0.2.124"}};
    quil->SetTimeserver(timeserver);
    EXPECT_EQ(quil->GetTimeserver(), timeserver);

    const ProcessInterfaces interfaces{false, true, 2, true, "192.0.2.10", Testing::TestPort(), 1};
    quil->SetProcessInterfaces(interfaces);
    EXPECT_EQ(quil->GetProcessInterfaces(), interfaces);
    EXPECT_EQ(sensor.GetResource("ProcessInterfaces").at("vendorSpecific"), 7);

    const UDPStreamData streamData{{0, 3}};
    quil->SetUDPStreamData(streamData);
    EXPECT_EQ(quil->GetUDPStreamData(), streamData);

    quil->SetLaserPower(0.75);
    EXPECT_EQ(quil->GetLaserPower(), 0.75);
    quil->SetExposureTime(4294967295u);
    EXPECT_EQ(quil->GetExposureTime(), 4294967295u);

    const Resolution resolution{4, 2};
    quil->SetResolution(resolution);
    EXPECT_EQ(quil->GetResolution(), resolution);
    const Resampling resampling{true, 0.05};
    quil->SetResampling(resampling);
    EXPECT_EQ(quil->GetResampling(), resampling);
    EXPECT_TRUE(quil->GetResamplingEnabled());
    const ProfileFilter filter{true, 9};
    quil->SetProfileFilter(filter);
    EXPECT_EQ(quil->GetProfileFilter(), filter);
    EXPECT_TRUE(quil->GetProfileFilterEnabled());

    quil->SetProfileAlgorithm(3);
    EXPECT_EQ(quil->GetProfileAlgorithm(), 3u);
    const ProfileAlgorithmParams params{10, 2, 50, 1};
    quil->SetProfileAlgorithmParams(3, params);
    EXPECT_EQ(quil->GetProfileAlgorithmParams(3), params);

    quil->SetAxes(2);
    EXPECT_EQ(quil->GetAxes(), 2u);
    const FoV fov{-10.0, 10.0, 0.5, 20.0};
    quil->SetFoV(fov);
    EXPECT_EQ(quil->GetFoV(), fov);
    const FoVDistance distance{-5.0, 5.0, 30.0, 60.0};
    quil->SetFoVDistance(distance);
    EXPECT_EQ(quil->GetFoVDistance(), distance);

    // The network's hardware address is the sensor's own: it is never written.
    quil->SetNetwork(Network{false, "192.0.2.20", "255.255.255.0", "192.0.2.1", "ignored"});
    EXPECT_FALSE(sensor.GetResource("Network").contains("macAdress"));
    quil->Disconnect();
}

}  // namespace
}  // namespace Varkon::QUILApi

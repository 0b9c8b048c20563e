// Configuration resources of the virtual sensor through the library: a write changes what the
// next read returns, limits and choices that the meta resources state are what the sensor
// accepts, and a refused write changes nothing.
#include "SimSupport.h"
#include "WireClient.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <stdexcept>

namespace Varkon::QUILApi {
namespace {

using Sim::VirtualSensor;
using Testing::Connected;
using Testing::SimOptions;
using Testing::TestAddress;
using Testing::TestPort;
using Testing::Throws;

std::string Refused(const std::string& resource) {
    return "SET returned an error: Invalid parameters passed for resource <" + resource + ">";
}

struct Case {
    const char* resource;  // as the refusal names it
    std::function<void(Quil&)> write;
    std::function<void(Quil&)> expectWritten;
    std::function<void(Quil&)> writeRefused;
    std::function<void(Quil&)> expectDefault;
};

const Case kCases[] = {
    {"Network", [](Quil& q) { q.SetNetwork(true, "192.0.2.30", "255.255.0.0", "192.0.2.254"); },
     [](Quil& q) {
         EXPECT_EQ(q.GetNetwork(), (Network{true, "192.0.2.30", "255.255.0.0", "192.0.2.254",
                                            "02-00-5E-10-00-01"}));
     },
     [](Quil& q) { q.SetNetwork(false, "192.0.2.300", "255.255.255.0", "192.0.2.1"); },
     [](Quil& q) { EXPECT_EQ(q.GetNetwork().staticIP, "192.0.2.20"); }},
    {"Timeserver",
     [](Quil& q) {
         q.SetTimeserver(true, {"192.0.2.123", "192.0.2.124"});
     },
     [](Quil& q) {
         EXPECT_EQ(q.GetTimeserver(), (Timeserver{true, {"192.0.2.123", "192.0.2.124"}}));
     },
     [](Quil& q) {  // more servers than "TimeserverMeta" allows
         q.SetTimeserver(true, std::vector<std::string>(q.GetTimeserverMeta() + 1, "192.0.2.1"));
     },
     [](Quil& q) {
         EXPECT_EQ(q.GetTimeserver(), (Timeserver{false, {}}));
     }},
    {"ProcessInterfaces",
     [](Quil& q) { q.SetProcessInterfaces(true, true, 2, false, "127.0.0.1", TestPort(), 1); },
     [](Quil& q) {
         EXPECT_EQ(q.GetProcessInterfaces(),
                   (ProcessInterfaces{true, true, 2, false, "127.0.0.1", TestPort(), 1}));
     },
     [](Quil& q) { q.SetProcessInterfaces(false, false, 9, false, "", 0, 0); },
     [](Quil& q) { EXPECT_EQ(q.GetProcessInterfaces(), ProcessInterfaces{}); }},
    {"ProcessInterfaces",  // the stream goes to this machine only
     [](Quil& q) { q.SetProcessInterfaces(false, false, 0, true, "127.0.0.1", TestPort(), 0); },
     [](Quil& q) { EXPECT_TRUE(q.GetProcessInterfaces().enableUDPStreaming); },
     [](Quil& q) { q.SetProcessInterfaces(false, false, 0, true, "192.0.2.10", TestPort(), 0); },
     [](Quil& q) { EXPECT_FALSE(q.GetProcessInterfaces().enableUDPStreaming); }},
    {"UDPStreamData",
     [](Quil& q) {
         q.SetUDPStreamData({{0, 3}});
     },
     [](Quil& q) {
         EXPECT_EQ(q.GetUDPStreamData().enabledDataIDs, (std::vector<uint32_t>{0, 3}));
     },
     [](Quil& q) { q.SetUDPStreamData({{7}}); },
     [](Quil& q) { EXPECT_TRUE(q.GetUDPStreamData().enabledDataIDs.empty()); }},
    {"UDPStreamData", [](Quil& q) { q.SetUDPStreamData({{2}}); },
     [](Quil& q) { EXPECT_EQ(q.GetUDPStreamData().enabledDataIDs, (std::vector<uint32_t>{2})); },
     [](Quil& q) {
         q.SetUDPStreamData({{1, 1}});
     },
     [](Quil& q) { EXPECT_TRUE(q.GetUDPStreamData().enabledDataIDs.empty()); }},
    {"LaserPower", [](Quil& q) { q.SetLaserPower(0.5); },
     [](Quil& q) { EXPECT_EQ(q.GetLaserPower(), 0.5); },
     [](Quil& q) { q.SetLaserPower(q.GetLaserPowerLimits().maxFactor + 0.01); },
     [](Quil& q) { EXPECT_EQ(q.GetLaserPower(), 0.8); }},
    {"ExposureTime", [](Quil& q) { q.SetExposureTime(1200); },
     [](Quil& q) { EXPECT_EQ(q.GetExposureTime(), 1200u); },
     [](Quil& q) { q.SetExposureTime(q.GetExposureTimeLimits().minTime - 1); },
     [](Quil& q) { EXPECT_EQ(q.GetExposureTime(), 500u); }},
    {"Resolution", [](Quil& q) { q.SetResolution(2, 4); },
     [](Quil& q) {
         EXPECT_EQ(q.GetResolution(), (Resolution{2, 4}));
     },
     [](Quil& q) { q.SetResolution(3, 1); },
     [](Quil& q) {
         EXPECT_EQ(q.GetResolution(), (Resolution{1, 1}));
     }},
    {"Resampling", [](Quil& q) { q.SetResampling(true, 0.25); },
     [](Quil& q) {
         EXPECT_EQ(q.GetResampling(), (Resampling{true, 0.25}));
         EXPECT_TRUE(q.GetResamplingEnabled());
     },
     [](Quil& q) { q.SetResampling(true, q.GetResamplingMeta().maxGridValue * 2); },
     [](Quil& q) {
         EXPECT_EQ(q.GetResampling(), (Resampling{false, 0.5}));
     }},
    {"ProfileFilter", [](Quil& q) { q.SetProfileFilter(true, 5); },
     [](Quil& q) {
         EXPECT_EQ(q.GetProfileFilter(), (ProfileFilter{true, 5}));
         EXPECT_TRUE(q.GetProfileFilterEnabled());
     },
     [](Quil& q) {
         q.SetProfileFilter(true, q.GetProfileFilterMeta().movingAverageMinimumLength - 1);
     },
     [](Quil& q) {
         EXPECT_EQ(q.GetProfileFilter(), (ProfileFilter{false, 3}));
     }},
    {"ProfileAlgorithm", [](Quil& q) { q.SetProfileAlgorithm(2); },
     [](Quil& q) { EXPECT_EQ(q.GetProfileAlgorithm(), 2u); },
     [](Quil& q) { q.SetProfileAlgorithm(7); },
     [](Quil& q) { EXPECT_EQ(q.GetProfileAlgorithm(), 0u); }},
    {"ProfileAlgorithmParams",
     [](Quil& q) {
         q.SetProfileAlgorithmParams(1, {30, 5, 40, 0});
     },
     [](Quil& q) {
         EXPECT_EQ(q.GetProfileAlgorithmParams(1), (ProfileAlgorithmParams{30, 5, 40, 0}));
         EXPECT_EQ(q.GetProfileAlgorithmParams(0), (ProfileAlgorithmParams{20, 2, 50, 0}));
     },
     // Algorithm 1 offers only the threshold type 0.
     [](Quil& q) { q.SetProfileAlgorithmParams(1, 30, 5, 40, 1); },
     [](Quil& q) {
         EXPECT_EQ(q.GetProfileAlgorithmParams(1), (ProfileAlgorithmParams{20, 2, 50, 0}));
     }},
    {"ProfileAlgorithmParams", [](Quil& q) { q.SetProfileAlgorithmParams(0, 0, 20, 100, 1); },
     [](Quil& q) {
         EXPECT_EQ(q.GetProfileAlgorithmParams(0), (ProfileAlgorithmParams{0, 20, 100, 1}));
     },
     [](Quil& q) { q.SetProfileAlgorithmParams(9, 20, 2, 50, 0); },
     [](Quil& q) {
         EXPECT_EQ(q.GetProfileAlgorithmParams(0), (ProfileAlgorithmParams{20, 2, 50, 0}));
     }},
    {"Axes", [](Quil& q) { q.SetAxes(0); }, [](Quil& q) { EXPECT_EQ(q.GetAxes(), 0u); },
     [](Quil& q) { q.SetAxes(5); }, [](Quil& q) { EXPECT_EQ(q.GetAxes(), 1u); }},
    {"FoV", [](Quil& q) { q.SetFoV(-50.0, 40.0, 120.0, 100.0); },
     [](Quil& q) {
         EXPECT_EQ(q.GetFoV(), (FoV{-50.0, 40.0, 120.0, 100.0}));
         EXPECT_EQ(q.GetFoVDistance(), (FoVDistance{-50.0, 40.0, 220.0, 320.0}));
     },
     [](Quil& q) { q.SetFoV(-50.0, 40.0, 120.0, q.GetFoVLimits().minHeight - 1.0); },
     [](Quil& q) {
         EXPECT_EQ(q.GetFoV(), (FoV{-60.0, 60.0, 150.0, 130.0}));
     }},
    {"FoVDistance", [](Quil& q) { q.SetFoVDistance(-30.0, 30.0, 200.0, 300.0); },
     [](Quil& q) {
         EXPECT_EQ(q.GetFoVDistance(), (FoVDistance{-30.0, 30.0, 200.0, 300.0}));
         EXPECT_EQ(q.GetFoV(), (FoV{-30.0, 30.0, 100.0, 100.0}));
     },
     [](Quil& q) { q.SetFoVDistance(-30.0, 30.0, 200.0, q.GetFoVLimits().maxDistance + 1.0); },
     [](Quil& q) {
         EXPECT_EQ(q.GetFoVDistance(), (FoVDistance{-60.0, 60.0, 250.0, 380.0}));
     }},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.resource;
}

class SimConfigurationTest : public ::testing::TestWithParam<Case> {};

TEST_P(SimConfigurationTest, AWriteIsReadBackAndARefusedOneChangesNothing) {
    const std::string address = TestAddress();
    VirtualSensor sensor(SimOptions(address));
    auto client = Connected(address, TestPort(), "maintenance");
    const Case& c = GetParam();
    EXPECT_TRUE(
        Throws<std::invalid_argument>([&] { c.writeRefused(*client); }, Refused(c.resource)));
    c.expectDefault(*client);
    c.write(*client);
    c.expectWritten(*client);
}

INSTANTIATE_TEST_SUITE_P(Resources, SimConfigurationTest, ::testing::ValuesIn(kCases));

TEST(SimConfigurationMetaTest, TheLimitsStatedAreTheLimitsApplied) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "maintenance");
    const auto exposure = client->GetExposureTimeLimits();
    client->SetExposureTime(exposure.minTime);
    client->SetExposureTime(exposure.maxTime);
    EXPECT_THROW(client->SetExposureTime(exposure.maxTime + 1), std::invalid_argument);

    const auto laser = client->GetLaserPowerLimits();
    for (double factor : laser.predefinedFactors) {
        client->SetLaserPower(factor);
        EXPECT_EQ(client->GetLaserPower(), factor);
    }
    client->SetLaserPower(laser.minFactor);
    EXPECT_THROW(client->SetLaserPower(laser.minFactor - 0.01), std::invalid_argument);

    const auto resolutions = client->GetResolutionLimits();
    for (uint32_t x : resolutions.xResolution) {
        for (uint32_t z : resolutions.zResolution) {
            client->SetResolution(x, z);
        }
    }
    const auto filter = client->GetProfileFilterMeta();
    client->SetProfileFilter(true, filter.movingAverageMaximumLength);
    EXPECT_THROW(client->SetProfileFilter(true, filter.movingAverageMaximumLength + 1),
                 std::invalid_argument);
    const auto grid = client->GetResamplingMeta();
    client->SetResampling(true, grid.minGridValue);
    client->SetResampling(true, grid.maxGridValue);

    for (const auto& axis : client->GetAxesMeta().zAxisDefinitions) {
        client->SetAxes(axis.id);
        EXPECT_EQ(client->GetAxes(), axis.id);
    }
    for (const auto& kind : client->GetUDPMeta().data) {
        client->SetUDPStreamData({{kind.id}});
    }
    const auto interfaces = client->GetProcessInterfacesMeta();
    for (const auto& protocol : interfaces.availableRTEthProtocols) {
        for (const auto& layout : interfaces.iolProcessDataLayouts) {
            client->SetProcessInterfaces(false, false, protocol.id, false, "", 0, layout.id);
        }
    }

    for (const auto& algorithm : client->GetProfileAlgorithmMeta().algorithms) {
        const auto limits = client->GetProfileAlgorithmParamsLimits(algorithm.id);
        EXPECT_EQ(limits.algorithmID, algorithm.id);
        const auto& l = limits.limits;
        for (const auto& type : l.thresholdType) {
            client->SetProfileAlgorithmParams(algorithm.id, l.minPeakHeight.max, l.minPeakWidth.min,
                                              l.thresholdValue.max, type.typeID);
        }
        EXPECT_THROW(
            client->SetProfileAlgorithmParams(algorithm.id, l.minPeakHeight.max + 1, 2, 50, 0),
            std::invalid_argument);
        EXPECT_THROW(
            client->SetProfileAlgorithmParams(algorithm.id, 20, l.minPeakWidth.max + 1, 50, 0),
            std::invalid_argument);
    }
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { client->GetProfileAlgorithmParamsLimits(3); },
        "GET returned an error: Invalid parameters passed for resource "
        "<ProfileAlgorithmParamsLimits>"));

    const auto fov = client->GetFoVLimits();
    client->SetFoVDistance(-fov.maxXMinus, fov.maxXPlus, fov.minDistance,
                           fov.minDistance + fov.maxHeight);
    client->SetFoVDistance(0.0, fov.minWidth, fov.maxDistance - fov.minHeight, fov.maxDistance);
    EXPECT_THROW(client->SetFoVDistance(0.0, fov.minWidth - 1.0, 200.0, 300.0),
                 std::invalid_argument);
    EXPECT_THROW(client->SetFoVDistance(-fov.maxXMinus - 1.0, 0.0, 200.0, 300.0),
                 std::invalid_argument);
}

TEST(SimConfigurationMetaTest, MetaResourcesAreReadable) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress());
    const auto identity = client->GetSensorMetaData();
    EXPECT_EQ(identity.vendorName, "Varkon");
    EXPECT_EQ(identity.aggregateVersion, "1.0.0");
    EXPECT_EQ(identity.controllerVersions, "I:1.0.0,M:1.0.0,L:1.0.0");
    EXPECT_EQ(client->GetTimeserverMeta(), 2u);
    EXPECT_EQ(client->GetLaserPowerMeta().FactorUnit, "relative");
    EXPECT_EQ(client->GetExposureTimeMeta().timeUnit, "us");
    EXPECT_EQ(client->GetFoVMeta(), (FoVMeta{"mm", "mm", 2, 2}));
    EXPECT_EQ(client->GetProfileAlgorithmParamsMeta().thresholdValueUnit, "%");
    EXPECT_EQ(client->GetUDPMeta().data.size(), 4u);
    EXPECT_EQ(client->GetProfileAlgorithmParams(2), (ProfileAlgorithmParams{20, 2, 50, 0}));
}

TEST(SimConfigurationMetaTest, ProcessInterfacesKeepTheirMembersThroughTheReadModifyWrite) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "operator");
    ProcessInterfaces wanted{false, true, 1, true, "127.0.0.1", TestPort(1), 0};
    client->SetProcessInterfaces(wanted);
    EXPECT_EQ(client->GetProcessInterfaces(), wanted);
    EXPECT_EQ(sensor.Read("ProcessInterfaces").size(), 7u);
}

// The next update of `resource`, skipping others.
std::optional<nlohmann::json> NextUpdateOf(Testing::WireClient& watcher,
                                           const std::string& resource) {
    while (auto update = watcher.NextUpdate(std::chrono::seconds(5))) {
        if ((*update)["msgData"][0] == resource) {
            return update;
        }
    }
    return std::nullopt;
}

TEST(SimUpdateTest, ChangesAreAnnouncedToOtherClients) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    Testing::WireClient watcher(TestAddress());
    auto client = Connected(TestAddress(), TestPort(), "maintenance");
    client->SetExposureTime(1500);
    const auto update = watcher.NextUpdate(std::chrono::seconds(5));
    ASSERT_TRUE(update);
    EXPECT_EQ(update->dump(),
              R"({"msgData":["ExposureTime",{"ExposureTime":1500}],"msgType":"UPDATE"})");
    // The active setup is no longer what was stored.
    const auto active = NextUpdateOf(watcher, "ActiveSetup");
    ASSERT_TRUE(active);
    EXPECT_EQ((*active)["msgData"][1], (nlohmann::json{{"active", 0}, {"saved", false}}));

    // One write of the field of view changes both of its views.
    client->SetFoV(-50.0, 40.0, 120.0, 100.0);
    const auto distance = NextUpdateOf(watcher, "FoVDistance");
    ASSERT_TRUE(distance);
    EXPECT_EQ((*distance)["msgData"][1]["near"], 220.0);
    const auto fov = NextUpdateOf(watcher, "FoV");
    ASSERT_TRUE(fov);
    EXPECT_EQ((*fov)["msgData"][1]["offset"], 120.0);

    // A write that changes nothing announces nothing: the next update is the later change.
    client->SetExposureTime(100);
    client->SetExposureTime(100);
    client->SetExposureTime(1600);
    const auto first = NextUpdateOf(watcher, "ExposureTime");
    const auto second = NextUpdateOf(watcher, "ExposureTime");
    ASSERT_TRUE(first && second);
    EXPECT_EQ((*first)["msgData"][1]["ExposureTime"], 100);
    EXPECT_EQ((*second)["msgData"][1]["ExposureTime"], 1600);
}

}  // namespace
}  // namespace Varkon::QUILApi

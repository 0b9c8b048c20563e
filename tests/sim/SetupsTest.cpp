// Parameter setups and the settings backup through the library; the block-wise write on the wire
// where the library cannot get it wrong; and the scene's determinism.
#include "SimSupport.h"
#include "WireClient.h"
#include "support/ExpectThrow.h"

#include <quil/sim/Packets.h>
#include <quil/sim/Scene.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Sim::VirtualSensor;
using Testing::Connected;
using Testing::SimOptions;
using Testing::TestAddress;
using Testing::TestPort;
using Testing::Throws;
using Testing::WireClient;

const json kRefused = "InvalidArgument";

struct Maintainer : WireClient {
    explicit Maintainer(const std::string& address) : WireClient(address) {
        Set("myRole", {{"role", "maintenance"}, {"password", "maintenance"}});
    }
    bool Ok(const json& reply) { return reply.at("msgType") == "ACK"; }
    json Data(const std::string& name, const json& parameter = nullptr) {
        return Get(name, parameter).at("msgData").at(1);
    }
    json Code(const json& reply) { return reply.at("msgData").at(1); }
};

std::string Refused(const std::string& resource) {
    return "SET returned an error: Invalid parameters passed for resource <" + resource + ">";
}

// A setting as the stored setup `numSetup` holds it.
json Stored(Quil& client, uint32_t numSetup, const char* resource, const char* key) {
    return json::parse(client.GetParameterSetup(numSetup))[resource][key];
}

TEST(SimSetupsTest, StoreActivateAndResetMoveTheSettings) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto c = Connected(TestAddress(), TestPort(), "maintenance");
    EXPECT_EQ(c->GetParameterSetupMeta(), 4u);
    EXPECT_EQ(c->GetActiveSetup(), (ActiveSetup{0, true}));
    c->SetExposureTime(2000);
    EXPECT_EQ(c->GetActiveSetup(), (ActiveSetup{0, false}));
    c->StoreToSetup(2);
    EXPECT_EQ(Stored(*c, 2, "ExposureTime", "ExposureTime"), 2000);
    EXPECT_EQ(Stored(*c, 0, "ExposureTime", "ExposureTime"), 500);

    c->SetActiveSetup(0);
    EXPECT_EQ(c->GetExposureTime(), 500u);
    c->SetActiveSetup(2);
    EXPECT_EQ(c->GetExposureTime(), 2000u);
    EXPECT_EQ(c->GetActiveSetup(), (ActiveSetup{2, true}));

    c->SetStartupSetup(3);
    EXPECT_EQ(c->GetStartupSetup(), 3u);
    c->AllSettingsReset();
    EXPECT_EQ(c->GetExposureTime(), 500u);
    EXPECT_EQ(Stored(*c, 2, "ExposureTime", "ExposureTime"), 2000);
    EXPECT_EQ(c->GetStartupSetup(), 3u);

    // Setup numbers beyond the storages.
    const std::pair<const char*, std::function<void()>> refusals[] = {
        {"ActiveSetup", [&] { c->SetActiveSetup(4); }},
        {"StoreToSetup", [&] { c->StoreToSetup(4); }},
        {"StartupSetup", [&] { c->SetStartupSetup(4); }},
        {"StartSettingWrite", [&] { c->WriteSingleSetting(c->ReadSingleSetting(0), 4); }},
    };
    for (const auto& [resource, call] : refusals) {
        EXPECT_TRUE(Throws<std::invalid_argument>(call, Refused(resource)));
    }
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { c->GetParameterSetup(4); },
        "GET returned an error: Invalid parameters passed for resource <ParameterSetup>"));
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { c->ReadSingleSetting(4); },
        "GET returned an error: Invalid parameters passed for resource <ReadSingleSetting>"));
    EXPECT_EQ(c->GetActiveSetup().active, 2u);
}

// A backup larger than the sensor's block limit travels in several blocks and brings back the
// device settings, every stored setup, the active and start-up setup and the unsaved values.
TEST(SimSetupsTest, ABackupRestoresEverything) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto c = Connected(TestAddress(), TestPort(), "maintenance");
    c->SetLaserPower(0.3);
    c->StoreToSetup(1);
    c->SetStartupSetup(2);
    c->SetFoV(-60.0, 60.0, 100.0, 130.0);
    c->SetTrigger(2, 1, 5000, 40);
    c->SetNetwork(true, "192.0.2.20", "255.255.255.0", "192.0.2.1");
    const std::string blob = c->ReadAllSettings();
    ASSERT_GT(blob.size(), 2 * sensor.Read("WriteSettingsBlockLimits")["maxLength"].get<size_t>());

    c->AllSettingsReset();
    c->StoreToSetup(1);
    c->SetActiveSetup(3);
    c->SetStartupSetup(0);
    ASSERT_NE(c->ReadAllSettings(), blob);

    c->WriteAllSettings(blob);
    EXPECT_EQ(c->ReadAllSettings(), blob);
    EXPECT_EQ(c->GetFoV(), (FoV{-60.0, 60.0, 100.0, 130.0}));
    EXPECT_EQ(c->GetTrigger(), (Trigger{2, 1, 5000, 40}));
    EXPECT_TRUE(c->GetNetwork().useDHCP);
    EXPECT_EQ(c->GetActiveSetup(), (ActiveSetup{0, false}));
    EXPECT_EQ(c->GetStartupSetup(), 2u);
    EXPECT_EQ(Stored(*c, 1, "LaserPower", "Factor"), 0.3);

    // A backup that does not parse, or holds a value out of limits, changes nothing; nor does an
    // empty one, which is announced and sent in no block.
    std::string outOfLimits = blob;
    outOfLimits.replace(outOfLimits.find("\"ExposureTime\":500"), 18, "\"ExposureTime\":9999999");
    c->SetExposureTime(100);
    const std::string changed = c->ReadAllSettings();
    for (const auto& bad : {outOfLimits, blob.substr(0, blob.size() - 1)}) {
        EXPECT_TRUE(Throws<std::invalid_argument>([&] { c->WriteAllSettings(bad); },
                                                  Refused("WriteSettingsBlock")));
    }
    c->WriteAllSettings("");
    EXPECT_EQ(c->ReadAllSettings(), changed);
}

TEST(SimSetupsTest, ASingleSetupIsWrittenIntoTheNamedStorage) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto c = Connected(TestAddress(), TestPort(), "maintenance");
    c->SetResolution(4, 2);
    c->StoreToSetup(1);
    const std::string blob = c->ReadSingleSetting(1);
    c->WriteSingleSetting(blob, 3);
    EXPECT_EQ(c->GetParameterSetup(3), c->GetParameterSetup(1));
    EXPECT_EQ(c->ReadSingleSetting(3), blob);

    c->SetResolution(1, 1);
    c->StoreToSetup(1);
    ASSERT_NE(c->ReadSingleSetting(1), blob);
    c->WriteSingleSetting(blob, 1);
    EXPECT_EQ(c->ReadSingleSetting(1), blob);
    c->SetActiveSetup(1);
    EXPECT_EQ(c->GetResolution(), (Resolution{4, 2}));

    // A setup's blob is not a backup of everything, and the other way round.
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { c->WriteAllSettings(blob); },
                                              Refused("WriteSettingsBlock")));
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { c->WriteSingleSetting(c->ReadAllSettings(), 0); }, Refused("WriteSettingsBlock")));
}

TEST(SimSetupsTest, BlocksOutOfSequenceAreRefusedAndNothingIsAppliedBeforeTheLast) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    Maintainer c(TestAddress());
    c.Set("ExposureTime", {{"ExposureTime", 3000}});
    const std::string blob = c.Data("ReadAllSettings")["blob"];
    c.Set("ExposureTime", {{"ExposureTime", 100}});
    const auto block = [&](std::size_t num, bool last, std::size_t from, std::size_t size) {
        return c.Set("WriteSettingsBlock",
                     {{"num", num}, {"isLastBlock", last}, {"block", blob.substr(from, size)}});
    };
    EXPECT_EQ(c.Code(block(0, false, 0, 1000)), kRefused);  // not announced

    ASSERT_TRUE(c.Ok(c.Set("StartSettingWrite")));
    EXPECT_EQ(c.Code(block(1, false, 0, 1000)), kRefused);  // not the first
    EXPECT_EQ(c.Code(block(0, false, 0, 1000)), kRefused);  // the write has ended

    ASSERT_TRUE(c.Ok(c.Set("StartSettingWrite")));
    EXPECT_EQ(c.Code(block(0, false, 0, 1025)), kRefused);  // longer than the limit

    ASSERT_TRUE(c.Ok(c.Set("StartSettingWrite")));
    for (std::size_t num = 0; num * 1000 < blob.size(); ++num) {
        EXPECT_EQ(c.Data("ExposureTime")["ExposureTime"], 100);
        ASSERT_TRUE(c.Ok(block(num, (num + 1) * 1000 >= blob.size(), num * 1000, 1000)));
    }
    EXPECT_EQ(c.Data("ExposureTime")["ExposureTime"], 3000);
}

TEST(SimSceneTest, TheSameSeedGivesTheSameFramesAndAnotherSeedOthers) {
    Sim::Scene a(5, 640), b(5, 640), c(6, 640);
    const Sim::CaptureSettings settings;
    std::size_t differing = 0;
    for (uint64_t i = 0; i < 200; ++i) {
        const uint64_t time = i * 25000;
        const auto fa = a.Capture(i, time, 40.0, settings);
        const auto fb = b.Capture(i, time, 40.0, settings);
        ASSERT_EQ(fa.z, fb.z);
        ASSERT_EQ(fa.brightness, fb.brightness);
        differing += fa.z != c.Capture(i, time, 40.0, settings).z;
    }
    EXPECT_GT(differing, 100u);
}

TEST(SimSceneTest, AWeakLaserLineLosesPoints) {
    Sim::Scene scene(1, 640);
    Sim::CaptureSettings settings;
    EXPECT_EQ(scene.Capture(0, 0, 100.0, settings).quality, 0u);
    settings.laserFactor = 0.05;
    settings.exposureTime = 100;
    const auto acquired = scene.Capture(0, 0, 100.0, settings);
    EXPECT_EQ(acquired.quality, 2u);
    EXPECT_FALSE(acquired.valid[0]);
}

TEST(SimPacketsTest, BlocksLargerThanADatagramAreCutIntoFrames) {
    const Sim::Bytes payload(2 * Sim::PacketLayout::kMaxPayload + 5, 0xAB);
    const auto datagrams = Sim::Datagrams(0x01020304, payload);
    ASSERT_EQ(datagrams.size(), 3u);
    EXPECT_EQ(datagrams[0].size(), 2048u);
    EXPECT_EQ(datagrams[2].size(), 13u);
    EXPECT_EQ((Sim::Bytes(datagrams[0].begin(), datagrams[0].begin() + 8)),
              (Sim::Bytes{4, 3, 2, 1, 1, 0, 3, 0}));  // first fragment of 3 frames
    EXPECT_EQ((Sim::Bytes(datagrams[2].begin(), datagrams[2].begin() + 8)),
              (Sim::Bytes{4, 3, 2, 1, 2, 0, 2, 0}));  // continuation, frame index 2
    const auto single = Sim::Datagrams(7, Sim::Bytes(Sim::PacketLayout::kMaxPayload, 1));
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0][4], 0);
}

}  // namespace
}  // namespace Varkon::QUILApi

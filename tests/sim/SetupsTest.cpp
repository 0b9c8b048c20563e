// Parameter setups, the settings blob and its block-wise write, on the wire; and the scene's
// determinism.
#include "Packets.h"
#include "Scene.h"
#include "SimSupport.h"
#include "WireClient.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Sim::VirtualSensor;
using Testing::SimOptions;
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
    // Writes `blob` as the library does, in blocks of the sensor's limit.
    json Write(const std::string& blob, const json& setup) {
        const std::size_t limit = Data("WriteSettingsBlockLimits")["maxLength"];
        json reply = Set("StartSettingWrite", setup);
        for (std::size_t at = 0, num = 0; at < blob.size() && Ok(reply); at += limit, ++num) {
            reply = Set("WriteSettingsBlock", {{"num", num},
                                               {"isLastBlock", at + limit >= blob.size()},
                                               {"block", blob.substr(at, limit)}});
        }
        return reply;
    }
};

TEST(SimSetupsTest, StoreActivateAndResetMoveTheSettings) {
    VirtualSensor sensor(SimOptions("127.0.6.50"));
    Maintainer c("127.0.6.50");
    EXPECT_EQ(c.Data("ParameterSetupMeta"), (json{{"numStorages", 4}}));
    EXPECT_EQ(c.Data("ActiveSetup"), (json{{"active", 0}, {"saved", true}}));
    ASSERT_TRUE(c.Ok(c.Set("ExposureTime", {{"ExposureTime", 2000}})));
    EXPECT_EQ(c.Data("ActiveSetup"), (json{{"active", 0}, {"saved", false}}));
    ASSERT_TRUE(c.Ok(c.Set("StoreToSetup", {{"numSetup", 2}})));
    EXPECT_EQ(c.Data("ParameterSetup", {{"numSetup", 2}})["ExposureTime"]["ExposureTime"], 2000);
    EXPECT_EQ(c.Data("ParameterSetup", {{"numSetup", 0}})["ExposureTime"]["ExposureTime"], 500);

    ASSERT_TRUE(c.Ok(c.Set("ActiveSetup", {{"active", 0}})));
    EXPECT_EQ(c.Data("ExposureTime")["ExposureTime"], 500);
    ASSERT_TRUE(c.Ok(c.Set("ActiveSetup", {{"active", 2}})));
    EXPECT_EQ(c.Data("ExposureTime")["ExposureTime"], 2000);
    EXPECT_EQ(c.Data("ActiveSetup"), (json{{"active", 2}, {"saved", true}}));

    ASSERT_TRUE(c.Ok(c.Set("StartupSetup", {{"numSetup", 3}})));
    EXPECT_EQ(c.Data("StartupSetup"), (json{{"numSetup", 3}}));
    ASSERT_TRUE(c.Ok(c.Set("AllSettingsReset")));
    EXPECT_EQ(c.Data("ExposureTime")["ExposureTime"], 500);
    EXPECT_EQ(c.Data("ParameterSetup", {{"numSetup", 2}})["ExposureTime"]["ExposureTime"], 2000);

    for (const char* name : {"ActiveSetup", "StoreToSetup"}) {
        const json value = {{name == std::string("ActiveSetup") ? "active" : "numSetup", 4}};
        EXPECT_EQ(c.Code(c.Set(name, value)), kRefused) << name;
    }
    EXPECT_EQ(c.Code(c.Set("StartupSetup", {{"numSetup", 4}})), kRefused);
    EXPECT_EQ(c.Code(c.Get("ParameterSetup", {{"numSetup", 4}})), kRefused);
}

TEST(SimSetupsTest, ABackupRestoresEverything) {
    VirtualSensor sensor(SimOptions("127.0.6.51"));
    Maintainer c("127.0.6.51");
    c.Set("LaserPower", {{"Factor", 0.3}});
    c.Set("StoreToSetup", {{"numSetup", 1}});
    c.Set("FoV", {{"offset", 100.0}});
    c.Set("Network", {{"useDHCP", true}});
    const std::string blob = c.Data("ReadAllSettings")["blob"];
    ASSERT_GT(blob.size(), 2048u);  // several blocks

    c.Set("AllSettingsReset");
    c.Set("StoreToSetup", {{"numSetup", 1}});
    c.Set("ActiveSetup", {{"active", 3}});
    ASSERT_NE(c.Data("ReadAllSettings")["blob"], blob);

    ASSERT_TRUE(c.Ok(c.Write(blob, nullptr)));
    EXPECT_EQ(c.Data("ReadAllSettings")["blob"], blob);
    EXPECT_EQ(c.Data("FoV")["offset"], 100.0);
    EXPECT_EQ(c.Data("Network")["useDHCP"], true);
    EXPECT_EQ(c.Data("ParameterSetup", {{"numSetup", 1}})["LaserPower"]["Factor"], 0.3);
}

TEST(SimSetupsTest, ASingleSetupIsWrittenIntoTheNamedStorage) {
    VirtualSensor sensor(SimOptions("127.0.6.52"));
    Maintainer c("127.0.6.52");
    c.Set("Resolution", {{"xResolution", 4}, {"zResolution", 2}});
    c.Set("StoreToSetup", {{"numSetup", 1}});
    const std::string blob = c.Data("ReadSingleSetting", {{"numSetup", 1}})["blob"];
    ASSERT_TRUE(c.Ok(c.Write(blob, {{"numSetup", 3}})));
    EXPECT_EQ(c.Data("ParameterSetup", {{"numSetup", 3}}),
              c.Data("ParameterSetup", {{"numSetup", 1}}));
    // A setup's blob is not a backup of everything, and the other way round.
    EXPECT_EQ(c.Code(c.Write(blob, nullptr)), kRefused);
    EXPECT_EQ(c.Code(c.Write(c.Data("ReadAllSettings")["blob"], {{"numSetup", 0}})), kRefused);
}

TEST(SimSetupsTest, BlocksOutOfSequenceAreRefusedAndNothingIsAppliedBeforeTheLast) {
    VirtualSensor sensor(SimOptions("127.0.6.53"));
    Maintainer c("127.0.6.53");
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

    // A blob that does not parse, or holds a value out of limits, changes nothing.
    std::string bad = blob;
    bad.replace(bad.find("\"ExposureTime\":3000"), 19, "\"ExposureTime\":9999999");
    c.Set("ExposureTime", {{"ExposureTime", 100}});
    EXPECT_EQ(c.Code(c.Write(bad, nullptr)), kRefused);
    EXPECT_EQ(c.Code(c.Write(blob.substr(0, blob.size() - 1), nullptr)), kRefused);
    EXPECT_EQ(c.Data("ExposureTime")["ExposureTime"], 100);
}

TEST(SimSetupsTest, RestoringNeedsTheMaintenanceRole) {
    VirtualSensor sensor(SimOptions("127.0.6.54"));
    WireClient observer("127.0.6.54");
    const auto reply = observer.Set("StartSettingWrite");
    EXPECT_EQ(reply.at("msgData"),
              (json::array({"StartSettingWrite", "Forbidden", {{"NeededRole", "maintenance"}}})));
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
    const auto frame = scene.Capture(0, 0, 100.0, settings);
    EXPECT_EQ(frame.quality, 2u);
    EXPECT_FALSE(frame.valid[0]);
}

TEST(SimPacketsTest, BlocksLargerThanADatagramAreCutIntoFrames) {
    const Sim::Bytes payload(2 * Sim::kMaxPacketPayload + 5, 0xAB);
    const auto datagrams = Sim::Datagrams(0x01020304, payload);
    ASSERT_EQ(datagrams.size(), 3u);
    EXPECT_EQ(datagrams[0].size(), 2048u);
    EXPECT_EQ(datagrams[2].size(), 13u);
    EXPECT_EQ((Sim::Bytes(datagrams[0].begin(), datagrams[0].begin() + 8)),
              (Sim::Bytes{4, 3, 2, 1, 1, 0, 3, 0}));  // first fragment of 3 frames
    EXPECT_EQ((Sim::Bytes(datagrams[2].begin(), datagrams[2].begin() + 8)),
              (Sim::Bytes{4, 3, 2, 1, 2, 0, 2, 0}));  // continuation, frame index 2
    const auto single = Sim::Datagrams(7, Sim::Bytes(Sim::kMaxPacketPayload, 1));
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0][4], 0);
}

}  // namespace
}  // namespace Varkon::QUILApi

// Sessions and roles of the virtual sensor, through the library.
#include "Roles.h"
#include "SimSupport.h"
#include "WireClient.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace Varkon::QUILApi {
namespace {

using Sim::Role;
using Sim::RoleName;
using Sim::VirtualSensor;
using std::chrono::milliseconds;
using Testing::Connected;
using Testing::SimOptions;
using Testing::TestAddress;
using Testing::TestPort;
using Testing::Throws;

const std::string kForbiddenExposure =
    "SET returned an error: Your role is not allowed to access resource <ExposureTime>, you need "
    "role <maintenance>.";

TEST(SimSessionTest, ObserverReadsButMayNotWrite) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress());
    EXPECT_EQ(client->GetExposureTime(), 500u);
    EXPECT_TRUE(
        Throws<std::domain_error>([&] { client->SetExposureTime(600); }, kForbiddenExposure));
    EXPECT_TRUE(Throws<std::domain_error>(
        [&] { client->SetUDPStreamData({{0}}); },
        "SET returned an error: Your role is not allowed to access resource <UDPStreamData>, you "
        "need role <operator>."));
    EXPECT_EQ(client->GetExposureTime(), 500u);
}

TEST(SimSessionTest, EachRoleWritesWhatItMay) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress(), TestPort(), "operator");
    client->SetUDPStreamData({{0, 3}});
    EXPECT_TRUE(
        Throws<std::domain_error>([&] { client->SetExposureTime(600); }, kForbiddenExposure));
    client->Login("maintenance", "maintenance");
    client->SetExposureTime(600);
    client->SetUDPStreamData({{1}});
    EXPECT_EQ(client->GetExposureTime(), 600u);
    client->Logout();
    EXPECT_TRUE(
        Throws<std::domain_error>([&] { client->SetExposureTime(700); }, kForbiddenExposure));
}

struct Write {
    const char* resource;  // the first one the operation writes
    Role needed;
    std::function<void(Quil&)> call;
};

const Write kWrites[] = {
    {"TriggerFire", Role::Operator, [](Quil& q) { q.TriggerFire(1); }},
    {"ActiveSetup", Role::Operator, [](Quil& q) { q.SetActiveSetup(0); }},
    {"Trigger", Role::Maintenance, [](Quil& q) { q.SetTrigger(0, 0, 10000, 20); }},
    {"StartupSetup", Role::Maintenance, [](Quil& q) { q.SetStartupSetup(1); }},
    {"StoreToSetup", Role::Maintenance, [](Quil& q) { q.StoreToSetup(1); }},
    {"AllSettingsReset", Role::Maintenance, [](Quil& q) { q.AllSettingsReset(); }},
    {"StartSettingWrite", Role::Maintenance,
     [](Quil& q) { q.WriteAllSettings(q.ReadAllSettings()); }},
    {"StartSettingWrite", Role::Maintenance,
     [](Quil& q) { q.WriteSingleSetting(q.ReadSingleSetting(0), 0); }},
};

// Every write of triggers, setups and settings by every role: refused with the library's text
// naming the role needed, or done.
TEST(SimSessionTest, WritesOfTriggersAndSetupsNeedTheirRole) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    const std::pair<Role, std::unique_ptr<Quil>> clients[] = {
        {Role::Observer, Connected(TestAddress())},
        {Role::Operator, Connected(TestAddress(), TestPort(), "operator")},
        {Role::Maintenance, Connected(TestAddress(), TestPort(), "maintenance")},
    };
    for (const auto& write : kWrites) {
        for (const auto& [role, client] : clients) {
            SCOPED_TRACE(std::string(write.resource) + " by " + RoleName(role));
            if (role < write.needed) {
                EXPECT_TRUE(Throws<std::domain_error>(
                    [&] { write.call(*client); },
                    "SET returned an error: Your role is not allowed to access resource <" +
                        std::string(write.resource) + ">, you need role <" +
                        RoleName(write.needed) + ">."));
            } else {
                EXPECT_NO_THROW(write.call(*client));
            }
        }
    }
}

TEST(SimSessionTest, LoginFailuresCarryTheLibrarysTexts) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto client = Connected(TestAddress());
    EXPECT_TRUE(Throws<std::domain_error>(
        [&] { client->Login("maintenance", "wrong"); },
        "SET returned an error: You password was wrong for role <maintenance>"));
    EXPECT_TRUE(Throws<std::domain_error>(
        [&] { client->Login("operator", ""); },
        "SET returned an error: You password was wrong for role <operator>"));
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { client->Login("root", "x"); },
        "SET returned an error: Invalid parameters passed for resource <myRole>"));
    EXPECT_TRUE(
        Throws<std::domain_error>([&] { client->SetExposureTime(600); }, kForbiddenExposure));
}

TEST(SimSessionTest, ARoleIsHeldByOneConnectionUntilGivenBack) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    auto first = Connected(TestAddress(), TestPort(), "maintenance");
    auto second = Connected(TestAddress());
    try {
        second->Login("maintenance", "maintenance");
        FAIL() << "the role was granted twice";
    } catch (const std::domain_error& e) {
        const std::string text = e.what();
        const std::string prefix = "SET returned an error: Your role is already used by <session ";
        EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
        EXPECT_EQ(text.back(), '>') << text;
    }
    second->Login("operator", "operator");  // another role is free
    first->Logout();
    second->Login("maintenance", "maintenance");
    EXPECT_THROW(first->Login("maintenance", "maintenance"), std::domain_error);
    second->Disconnect();
    first->Login("maintenance", "maintenance");
}

TEST(SimSessionTest, AClosedConnectionGivesItsRoleBack) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    {
        Testing::WireClient holder(TestAddress());
        EXPECT_EQ(holder.Set("myRole", {{"role", "maintenance"}, {"password", "maintenance"}})
                      .at("msgType"),
                  "ACK");
    }
    ASSERT_TRUE(sensor.WaitForOpenConnections(0, milliseconds(5000)));
    auto client = Connected(TestAddress(), TestPort(), "maintenance");
    client->SetExposureTime(800);
}

TEST(SimSessionTest, PasswordsAreConfigurable) {
    auto options = SimOptions(TestAddress());
    options.passwords = {{"operator", "op-secret"}};
    VirtualSensor sensor(options);
    auto client = Connected(TestAddress());
    EXPECT_THROW(client->Login("operator", "operator"), std::domain_error);
    client->Login("operator", "op-secret");
    client->Login("maintenance", "maintenance");  // not configured: its default
}

TEST(SimSessionTest, EveryConnectGivesANewSession) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    Testing::WireClient a(TestAddress());
    Testing::WireClient b(TestAddress());
    EXPECT_NE(a.sessionId, b.sessionId);
    const auto again = a.Request({{"msgType", "CONNECT"}});
    EXPECT_NE(again.at("sessionID"), a.sessionId);
    EXPECT_EQ(a.Request({{"msgType", "DISCONNECT"}}).at("msgType"), "ACK");
}

TEST(SimSessionTest, WritingAReadOnlyResourceIsForbiddenToAll) {
    VirtualSensor sensor(SimOptions(TestAddress()));
    Testing::WireClient client(TestAddress());
    client.Set("myRole", {{"role", "maintenance"}, {"password", "maintenance"}});
    const auto reply = client.Set("SensorMetaData", {{"vendorName", "x"}});
    EXPECT_EQ(reply.at("msgType"), "ERR");
    EXPECT_EQ(reply.at("msgData"), nlohmann::json::array({"SensorMetaData", "Forbidden"}));
    EXPECT_EQ(client.Get("NoSuchResource").at("msgData"),
              nlohmann::json::array({"NoSuchResource", "InvalidArgument"}));
}

TEST(SimSessionTest, RefusesOptionsOutOfRange) {
    auto options = SimOptions("192.0.2.1");
    EXPECT_THROW(VirtualSensor{options}, std::invalid_argument);
    options = SimOptions(TestAddress());
    options.pointsPerProfile = 8;
    EXPECT_THROW(VirtualSensor{options}, std::invalid_argument);
    options = SimOptions(TestAddress());
    options.passwords = {{"observer", "x"}};
    EXPECT_THROW(VirtualSensor{options}, std::invalid_argument);
}

// Writes that announce updates to every connection keep arriving while the sensor shuts down:
// the sensor stops serving before it takes down what its handlers use. Each row is a few
// rounds, the sensor going away while its thread is busy with the writes.
TEST(SimSessionTest, ShutsDownCleanlyWhileWritesArrive) {
    struct Case {
        std::string address;
        const char* resource;
        std::function<nlohmann::json(int)> value;  // of write i, each different from the one before
    } cases[] = {
        {TestAddress(), "ExposureTime",
         [](int i) {
             return nlohmann::json{{"ExposureTime", 100 + i}};
         }},
        {TestAddress(1), "LaserPower",
         [](int i) {
             return nlohmann::json{{"Factor", 0.5 + i % 2 * 0.25}};
         }},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            auto sensor = std::make_unique<VirtualSensor>(SimOptions(c.address));
            Testing::WireClient client(c.address);
            ASSERT_EQ(client.Set("myRole", {{"role", "maintenance"}, {"password", "maintenance"}})
                          .at("msgType"),
                      "ACK");
            for (int i = 0; i < 400; ++i) {
                client.Post(Testing::WireClient::Envelope("SET", c.resource, c.value(i)));
            }
            // Once the first answer is back, the sensor is busy with the others.
            ASSERT_TRUE(client.NextUpdate(std::chrono::seconds(5)));
            sensor.reset();
        }
    }
}

}  // namespace
}  // namespace Varkon::QUILApi

// Parameter setups, through a channel without network.
#include "api/QuilApi.h"
#include "support/FakeChannel.h"
#include "support/FakeClient.h"
#include "support/JsonCases.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::FakeChannel;

class ParameterSetupsTest : public Testing::FakeClientTest {};

TEST_F(ParameterSetupsTest, SettersSendOneUnwrappedKey) {
    for (int i = 0; i < 6; ++i) {
        channel->Ack();
    }
    client.SetStartupSetup(2);
    client.SetActiveSetup(1);
    client.SetActiveSetup(0);  // no client-side range check
    client.StoreToSetup(3);
    client.StoreToSetup(4294967295u);
    client.AllSettingsReset();
    EXPECT_EQ(channel->requests,
              (std::vector<std::string>{
                  Request(R"(["StartupSetup",{"numSetup":2}])", 1, "SET"),
                  Request(R"(["ActiveSetup",{"active":1}])", 2, "SET"),
                  Request(R"(["ActiveSetup",{"active":0}])", 3, "SET"),
                  Request(R"(["StoreToSetup",{"numSetup":3}])", 4, "SET"),
                  Request(R"(["StoreToSetup",{"numSetup":4294967295}])", 5, "SET"),
                  Request(R"(["AllSettingsReset"])", 6, "SET"),  // one element only
              }));
}

TEST_F(ParameterSetupsTest, NumberGetters) {
    channel->Ack({{"numSetup", 3}});
    EXPECT_EQ(client.GetStartupSetup(), 3u);
    channel->Ack({{"numStorages", 8.7}});
    EXPECT_EQ(client.GetParameterSetupMeta(), 8u);
    channel->Ack({{"active", 2.0}, {"saved", true}});
    EXPECT_EQ(client.GetActiveSetup(), (ActiveSetup{2, true}));
    channel->Ack({{"active", true}, {"saved", false}});
    EXPECT_EQ(client.GetActiveSetup(), (ActiveSetup{1, false}));
    EXPECT_EQ(channel->requests, (std::vector<std::string>{
                                     Request(R"(["StartupSetup"])", 1, "GET"),
                                     Request(R"(["ParameterSetupMeta"])", 2, "GET"),
                                     Request(R"(["ActiveSetup"])", 3, "GET"),
                                     Request(R"(["ActiveSetup"])", 4, "GET"),
                                 }));
}

TEST_F(ParameterSetupsTest, GetterFailures) {
    struct Read {
        std::function<void()> call;
        json reply;
    };
    const auto startup = [&] { client.GetStartupSetup(); };
    const auto meta = [&] { client.GetParameterSetupMeta(); };
    const auto active = [&] { client.GetActiveSetup(); };
    const Testing::FailureRow<Read> cases[] = {
        {{startup, json::object()}, Failure::Empty, ""},
        {{startup, {{"numsetup", 1}}}, Failure::Missing, "numSetup"},
        {{startup, {{"numSetup", "1"}}}, Failure::Type, "type must be number, but is string"},
        {{meta, {{"numStorages", nullptr}}}, Failure::Type, "type must be number, but is null"},
        {{meta, json::array()}, Failure::Empty, ""},
        {{active, {{"saved", true}}}, Failure::Missing, "active"},
        {{active, {{"active", 1}}}, Failure::Missing, "saved"},
        {{active, {{"active", 1}, {"saved", 1}}},
         Failure::Type,
         "type must be boolean, but is number"},
        {{active, {{"active", "1"}, {"saved", true}}},
         Failure::Type,
         "type must be number, but is string"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input.reply);
        EXPECT_TRUE(Testing::Fails(c.input.call, c)) << c.input.reply.dump();
    }
}

TEST_F(ParameterSetupsTest, GetParameterSetupReturnsCompactText) {
    struct Case {
        json data;
        std::string text;
    };
    const Case cases[] = {
        {{{"b", 2}, {"a", {1, true}}}, R"({"a":[1,true],"b":2})"},
        {{{"x", nullptr}}, R"({"x":null})"},
        {{{"name", "Bühne ✓"}, {"B", 1.5}, {"a", {{"z", 1}, {"y", 2}}}},
         R"({"B":1.5,"a":{"y":2,"z":1},"name":"Bühne ✓"})"},
        {42, "42"},
        {"text", R"("text")"},
        {false, "false"},
        {{{"quote", "a\"b\\c\n"}}, R"({"quote":"a\"b\\c\n"})"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.data);
        EXPECT_EQ(client.GetParameterSetup(4), c.text);
    }
    EXPECT_EQ(channel->requests.front(), Request(R"(["ParameterSetup",{"numSetup":4}])", 1, "GET"));

    channel->Ack(json::object());
    EXPECT_TRUE(Testing::Fails([&] { client.GetParameterSetup(1); }, Failure::Empty, ""));
    channel->Ack(json::array());
    EXPECT_TRUE(Testing::Fails([&] { client.GetParameterSetup(1); }, Failure::Empty, ""));
    channel->Ack({{"bad", "\xC3("}});
    EXPECT_THROW(client.GetParameterSetup(1), json::type_error);  // the library's error 316
}

}  // namespace
}  // namespace Varkon::QUILApi

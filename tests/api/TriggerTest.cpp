// Trigger operations, through a channel without network.
#include "api/QuilApi.h"
#include "support/ExpectThrow.h"
#include "support/FakeChannel.h"
#include "support/FakeClient.h"
#include "support/JsonCases.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::FakeChannel;
using Testing::Throws;

constexpr const char* kNotNumber = "[json.exception.type_error.302] type must be number, but is ";

class TriggerTest : public Testing::FakeClientTest {};

TEST_F(TriggerTest, TriggerFireSendsTheCountUnwrapped) {
    channel->Ack();
    client.TriggerFire(5);
    channel->Ack();
    client.TriggerFire(0);  // not refused on the client side
    channel->Ack();
    client.TriggerFire(4294967295u);
    EXPECT_EQ(
        channel->requests,
        (std::vector<std::string>{
            R"({"msgData":["TriggerFire",{"count":5}],"msgID":1,"msgType":"SET","sessionID":0})",
            R"({"msgData":["TriggerFire",{"count":0}],"msgID":2,"msgType":"SET","sessionID":0})",
            R"({"msgData":["TriggerFire",{"count":4294967295}],"msgID":3,"msgType":"SET","sessionID":0})"}));
}

TEST_F(TriggerTest, SetTriggerSendsAllFourKeysAndTheRecordForwards) {
    channel->Ack();
    client.SetTrigger(2, 1, 1000, 0);
    channel->Ack();
    client.SetTrigger(Trigger{2, 1, 1000, 0});
    const char* expected =
        R"(["Trigger",{"encoderSteps":0,"modeOption":1,"triggerMode":2,"triggerTime":1000}])";
    ASSERT_EQ(channel->requests.size(), 2u);
    EXPECT_EQ(channel->requests[0], Request(expected, 1, "SET"));
    EXPECT_EQ(channel->requests[1], Request(expected, 2, "SET"));
}

TEST_F(TriggerTest, GetTriggerReadsAndConverts) {
    struct Case {
        json data;
        Trigger expected;
    };
    const Case cases[] = {
        {{{"triggerMode", 2}, {"modeOption", 1}, {"triggerTime", 1000}, {"encoderSteps", 7}},
         {2, 1, 1000, 7}},
        {{{"triggerMode", 2}, {"modeOption", 1}, {"triggerTime", 1000}}, {2, 1, 1000, 0}},
        {{{"triggerMode", 2}, {"modeOption", 1}, {"triggerTime", 1000.9}}, {2, 1, 1000, 0}},
        {{{"triggerMode", 2}, {"modeOption", 1}, {"triggerTime", true}}, {2, 1, 1, 0}},
    };
    for (const auto& c : cases) {
        channel->Ack(c.data);
        EXPECT_EQ(client.GetTrigger(), c.expected) << c.data.dump();
    }
    EXPECT_EQ(channel->requests.front(),
              R"({"msgData":["Trigger"],"msgID":1,"msgType":"GET","sessionID":0})");
}

TEST_F(TriggerTest, GetTriggerFailures) {
    using Case = Testing::FailureCase;
    const Case cases[] = {
        {json::object(), Failure::Empty, ""},
        {json::array(), Failure::Empty, ""},
        {{{"modeOption", 1}, {"triggerTime", 1000}}, Failure::Missing, "triggerMode"},
        {{{"triggerMode", 2}, {"modeOption", 1}}, Failure::Missing, "triggerTime"},
        {{{"triggerMode", "2"}, {"modeOption", 1}, {"triggerTime", 1}},
         Failure::Type,
         "type must be number, but is string"},
        {{{"triggerMode", 2}, {"modeOption", 1}, {"triggerTime", 1}, {"encoderSteps", nullptr}},
         Failure::Type,
         "type must be number, but is null"},
        {{{"triggerMode", 2}, {"modeOption", 1}, {"triggerTime", 1}, {"encoderSteps", "7"}},
         Failure::Type,
         "type must be number, but is string"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetTrigger(); }, c.kind, c.text)) << c.input.dump();
    }
    // Null data: the reply carries the element, and it is null.
    channel->AnswerVerbatim({{"msgID", 8}, {"msgType", "ACK"}, {"msgData", {"Trigger", nullptr}}});
    EXPECT_TRUE(Testing::Fails([&] { client.GetTrigger(); }, Failure::Empty, ""));
}

TEST_F(TriggerTest, GetTriggerLimitsTakesZeroForMissingSteps) {
    channel->Ack({{"minTime", 10}, {"maxTime", 5000}});
    EXPECT_EQ(client.GetTriggerLimits(), (TriggerLimits{10, 5000, 0, 0}));
    channel->Ack({{"minTime", 10}, {"maxTime", 5000}, {"minSteps", 1}, {"maxSteps", 65535}});
    EXPECT_EQ(client.GetTriggerLimits(), (TriggerLimits{10, 5000, 1, 65535}));
    channel->Ack({{"maxTime", 5000}, {"minSteps", 1}});
    EXPECT_TRUE(Throws<std::out_of_range>([&] { client.GetTriggerLimits(); },
                                          "Field minTime missing in response."));
    channel->Ack({{"minTime", 10}, {"maxTime", 5000}, {"maxSteps", json::array()}});
    EXPECT_TRUE(Throws<json::type_error>([&] { client.GetTriggerLimits(); },
                                         std::string(kNotNumber) + "array"));
    EXPECT_EQ(channel->requests.front(),
              R"({"msgData":["TriggerLimits"],"msgID":1,"msgType":"GET","sessionID":0})");
}

TEST_F(TriggerTest, GetTriggerMetaReadsModesAndOptionsInOrder) {
    const json data = {
        {"timeUnit", "us"},
        {"triggerModes",
         {{{"id", 0}, {"name", "free run"}, {"options", json::array()}},
          {{"id", 2}, {"name", "encoder"}, {"options", {3, 1, 2.5}}}}},
        {"options", {{{"id", 1}, {"name", "rising"}}, {{"id", 3}, {"name", "falling"}}}}};
    channel->Ack(data);
    const TriggerMeta expected{
        "us", {{0, "free run", {}}, {2, "encoder", {3, 1, 2}}}, {{1, "rising"}, {3, "falling"}}};
    EXPECT_EQ(client.GetTriggerMeta(), expected);

    channel->Ack({{"timeUnit", "ms"}, {"triggerModes", json::array()}, {"options", json::array()}});
    EXPECT_EQ(client.GetTriggerMeta(), (TriggerMeta{"ms", {}, {}}));
    EXPECT_EQ(channel->requests.front(),
              R"({"msgData":["TriggerMeta"],"msgID":1,"msgType":"GET","sessionID":0})");
}

TEST_F(TriggerTest, GetTriggerMetaReportsTheFirstFailure) {
    const json good = {{"timeUnit", "us"},
                       {"triggerModes", {{{"id", 0}, {"name", "free run"}, {"options", {1}}}}},
                       {"options", {{{"id", 1}, {"name", "rising"}}}}};
    auto with = [&](const std::string& at, json value) { return Testing::With(good, at, value); };
    const Testing::FailureCase cases[] = {
        {Testing::Without(good, "/timeUnit"), Failure::Missing, "timeUnit"},
        {Testing::Without(good, "/options"), Failure::Missing, "options"},
        // Modes are walked before options and before timeUnit is converted.
        {with("/triggerModes/0", {{"id", 0}, {"name", "x"}}), Failure::Missing, "options"},
        {with("/triggerModes/0", {{"name", "x"}}), Failure::Missing, "id"},
        {with("/triggerModes/0/options", 5), Failure::Type, "type must be array, but is number"},
        {with("/triggerModes/0/options", json::array({"1"})), Failure::Type,
         std::string(kNotNumber) + "string"},
        {with("/triggerModes/0/name", 3), Failure::Type, "type must be string, but is number"},
        {with("/options/0", {{"id", 1}}), Failure::Missing, "name"},
        {with("/timeUnit", 1), Failure::Type, "type must be string, but is number"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetTriggerMeta(); }, c)) << c.input.dump();
    }
    // A mode without options and a timeUnit of the wrong type: the walk comes first.
    json both = with("/triggerModes/0", {{"id", 0}, {"name", "x"}});
    both["timeUnit"] = 1;
    channel->Ack(both);
    EXPECT_TRUE(Throws<std::out_of_range>([&] { client.GetTriggerMeta(); },
                                          "Field options missing in response."));
}

}  // namespace
}  // namespace Varkon::QUILApi

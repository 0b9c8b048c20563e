#include "support/ExpectThrow.h"
#include "support/FakeChannel.h"
#include "support/JsonCases.h"
#include "websockets/Protocol.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace Varkon::QUILApi::WebSockets {
namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::FakeChannel;
using Testing::Throws;

class ProtocolTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeChannel> channel = std::make_shared<FakeChannel>();
    Protocol protocol{channel};

    void ConnectAs(uint32_t session) {
        channel->Answer({{"sessionID", session}});
        protocol.Connect();
    }
};

TEST_F(ProtocolTest, RequestsAreNumberedAndSerialisedCompactlyInKeyOrder) {
    ConnectAs(17);
    channel->Ack(json{{"ExposureTime", 120}});
    EXPECT_EQ(*protocol.GetResource("ExposureTime", nullptr), json({{"ExposureTime", 120}}));
    channel->Ack(json{{"name", "Standard"}});
    protocol.GetResource("ParameterSetup", {{"numSetup", 2}});
    channel->Ack();
    protocol.SetResource("ExposureTime", {{"ExposureTime", 150u}});
    channel->Ack();
    protocol.SetResource("AllSettingsReset", nullptr);
    channel->Ack();
    protocol.SetResource("myRole", {{"role", "Prüfer"}});
    protocol.Disconnect();

    EXPECT_EQ(
        channel->requests,
        (std::vector<std::string>{
            R"({"msgID":1,"msgType":"CONNECT","sessionID":0})",
            R"({"msgData":["ExposureTime"],"msgID":2,"msgType":"GET","sessionID":17})",
            R"({"msgData":["ParameterSetup",{"numSetup":2}],"msgID":3,"msgType":"GET","sessionID":17})",
            R"({"msgData":["ExposureTime",{"ExposureTime":150}],"msgID":4,"msgType":"SET","sessionID":17})",
            R"({"msgData":["AllSettingsReset"],"msgID":5,"msgType":"SET","sessionID":17})",
            R"({"msgData":["myRole",{"role":"Prüfer"}],"msgID":6,"msgType":"SET","sessionID":17})",
            R"({"msgID":7,"msgType":"DISCONNECT","sessionID":17})",
        }));
    EXPECT_EQ(channel->timeouts,
              (std::vector<unsigned>{500, 10000, 10000, 10000, 10000, 10000, 500}));
    EXPECT_EQ(channel->closes, 1);
}

TEST_F(ProtocolTest, FailedRequestsStillConsumeTheirNumber) {
    EXPECT_ANY_THROW(protocol.GetResource("A", nullptr));
    EXPECT_ANY_THROW(protocol.SetResource("B", nullptr));
    EXPECT_ANY_THROW(protocol.GetResource("C", nullptr));
    ASSERT_EQ(channel->requests.size(), 3u);
    EXPECT_NE(channel->requests[2].find(R"("msgID":3)"), std::string::npos);
}

TEST_F(ProtocolTest, ConnectAgainCarriesThePreviousSessionAndTakesTheNewOne) {
    ConnectAs(17);
    protocol.Disconnect();
    ConnectAs(18);
    channel->Ack(json{{"x", 1}});
    protocol.GetResource("X", nullptr);
    EXPECT_EQ(channel->requests[2], R"({"msgID":3,"msgType":"CONNECT","sessionID":17})");
    EXPECT_EQ(channel->requests[3],
              R"({"msgData":["X"],"msgID":4,"msgType":"GET","sessionID":18})");
    EXPECT_EQ(channel->connects, 2);
}

TEST_F(ProtocolTest, ConnectReplyMustCarryANumericSessionId) {
    channel->Answer({{"msgType", "ACK"}});
    EXPECT_TRUE(
        Throws<json::out_of_range>([&] { protocol.Connect(); },
                                   "[json.exception.out_of_range.403] key 'sessionID' not found"));
    channel->Answer({{"sessionID", "17"}});
    EXPECT_TRUE(Throws<json::type_error>(
        [&] { protocol.Connect(); },
        "[json.exception.type_error.302] type must be number, but is string"));
    channel->Answer({{"sessionID", 1e300}});
    EXPECT_TRUE(Throws<json::type_error>(
        [&] { protocol.Connect(); },
        "[json.exception.type_error.302] number out of range for sessionID: 1e+300"));
    channel->Answer({{"sessionID", 21.7}});
    protocol.Connect();
    channel->Ack(json{{"x", 1}});
    protocol.GetResource("X", nullptr);
    EXPECT_NE(channel->requests.back().find(R"("sessionID":21)"), std::string::npos);
}

TEST_F(ProtocolTest, DisconnectSwallowsEveryFailure) {
    EXPECT_NO_THROW(protocol.Disconnect());  // no reply at all
    channel->AnswerVerbatim("not an object");
    EXPECT_NO_THROW(protocol.Disconnect());
    EXPECT_EQ(channel->closes, 2);
}

TEST_F(ProtocolTest, ReplyIdsCompareAsJsonValues) {
    channel->AnswerVerbatim({{"msgID", 1.0}, {"msgType", "ACK"}, {"msgData", {"X", 5}}});
    EXPECT_EQ(*protocol.GetResource("X", nullptr), json(5));
    channel->AnswerVerbatim({{"msgID", "2"}, {"msgType", "ACK"}, {"msgData", {"X", 5}}});
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] { protocol.GetResource("X", nullptr); },
        "No matching response found to request with sessionID: 0 msgID: 2"));
}

// A request and the reply it gets; the failure rows say what then reaches the caller.
struct Exchange {
    const char* name;
    const char* type;  // "GET" or "SET"
    json value;        // request value
    json reply;        // without msgID (set to the request's)
};
using ReplyFailure = Testing::FailureRow<Exchange>;

class ProtocolFailureTest : public ProtocolTest,
                            public ::testing::WithParamInterface<ReplyFailure> {};

TEST_P(ProtocolFailureTest, ThrowsTheExpectedExceptionAndText) {
    const Exchange& c = GetParam().input;
    channel->Answer(c.reply);
    const auto call = [&] {
        if (std::string(c.type) == "GET") {
            protocol.GetResource("ExposureTime", c.value);
        } else {
            protocol.SetResource(
                c.value.is_object() && c.value.contains("role") ? "myRole" : "ExposureTime",
                c.value);
        }
    };
    EXPECT_TRUE(Testing::Fails(call, GetParam()));
}

const json kRole = {{"password", "pw"}, {"role", "admin"}};

INSTANTIATE_TEST_SUITE_P(
    Replies, ProtocolFailureTest,
    ::testing::Values(
        ReplyFailure{
            {"InvalidArgument",
             "SET",
             {{"ExposureTime", 150}},
             {{"msgType", "ERR"}, {"msgData", {"ExposureTime", "InvalidArgument"}}}},
            Failure::Invalid,
            "SET returned an error: Invalid parameters passed for resource <ExposureTime>"},
        ReplyFailure{{"ForbiddenWithRole",
                      "GET",
                      nullptr,
                      {{"msgType", "ERR"},
                       {"msgData", {"ExposureTime", "Forbidden", {{"NeededRole", "admin"}}}}}},
                     Failure::Domain,
                     "GET returned an error: Your role is not allowed to access resource "
                     "<ExposureTime>, you need role <admin>."},
        ReplyFailure{
            {"ForbiddenWithoutDetails",
             "GET",
             nullptr,
             {{"msgType", "ERR"}, {"msgData", {"ExposureTime", "Forbidden"}}}},
            Failure::Domain,
            "GET returned an error: Your role is not allowed to access resource <ExposureTime>"},
        ReplyFailure{
            {"ForbiddenWithDetailsNotAnObject",
             "GET",
             nullptr,
             {{"msgType", "ERR"}, {"msgData", {"ExposureTime", "Forbidden", "admin"}}}},
            Failure::Domain,
            "GET returned an error: Your role is not allowed to access resource <ExposureTime>"},
        ReplyFailure{
            {"PasswordWrongNamesTheRequestedRole",
             "SET",
             kRole,
             {{"msgType", "ERR"}, {"msgData", {"myRole", "PasswordWrong", {{"role", "other"}}}}}},
            Failure::Domain,
            "SET returned an error: You password was wrong for role <admin>"},
        ReplyFailure{{"PasswordWrongWithoutRoleNamesTheResource",
                      "SET",
                      {{"ExposureTime", 1}},
                      {{"msgType", "ERR"}, {"msgData", {"ExposureTime", "PasswordWrong"}}}},
                     Failure::Domain,
                     "SET returned an error: You password was wrong for role <ExposureTime>"},
        ReplyFailure{
            {"RoleTaken",
             "SET",
             kRole,
             {{"msgType", "ERR"}, {"msgData", {"myRole", "RoleTaken", {{"takenBy", "10.0.0.5"}}}}}},
            Failure::Domain,
            "SET returned an error: Your role is already used by <10.0.0.5>"},
        ReplyFailure{{"RoleTakenWithoutHolder",
                      "SET",
                      kRole,
                      {{"msgType", "ERR"}, {"msgData", {"myRole", "RoleTaken"}}}},
                     Failure::Domain,
                     "SET returned an error: Your role is already used by <>"},
        ReplyFailure{{"OtherCodeVerbatim",
                      "GET",
                      nullptr,
                      {{"msgType", "ERR"}, {"msgData", {"ExposureTime", "Busy"}}}},
                     Failure::Domain,
                     "GET returned an error: Busy"},
        ReplyFailure{
            {"EmptyErrorData", "GET", nullptr, {{"msgType", "ERR"}, {"msgData", json::array()}}},
            Failure::Domain,
            "GET returned an error: "},
        ReplyFailure{
            {"AckWithoutData", "GET", nullptr, {{"msgType", "ACK"}, {"msgData", {"ExposureTime"}}}},
            Failure::Domain,
            "GetResource failed <ExposureTime> MessageID: 1"},
        ReplyFailure{{"AckForAnotherResource",
                      "GET",
                      nullptr,
                      {{"msgType", "ACK"}, {"msgData", {"exposureTime", 5}}}},
                     Failure::Domain,
                     "GetResource failed <ExposureTime> MessageID: 1"},
        ReplyFailure{{"GetAnsweredByUnknownType",
                      "GET",
                      nullptr,
                      {{"msgType", "NAK"}, {"msgData", {"ExposureTime", 5}}}},
                     Failure::Domain,
                     "GetResource failed <ExposureTime> MessageID: 1"},
        ReplyFailure{
            {"SetAnsweredByUnknownType", "SET", {{"ExposureTime", 1}}, {{"msgType", "NAK"}}},
            Failure::Domain,
            "Unknwon message received: NAK"},
        ReplyFailure{{"ReplyWithoutType", "GET", nullptr, {{"msgData", {"ExposureTime", 5}}}},
                     Failure::JsonOutOfRange,
                     "[json.exception.out_of_range.403] key 'msgType' not found"},
        ReplyFailure{{"TypeNotAString", "SET", {{"ExposureTime", 1}}, {{"msgType", 3}}},
                     Failure::Type,
                     "[json.exception.type_error.302] type must be string, but is number"},
        ReplyFailure{
            {"ErrorDataNotAnArray",
             "GET",
             nullptr,
             {{"msgType", "ERR"}, {"msgData", {{"code", "Busy"}}}}},
            Failure::Type,
            "[json.exception.type_error.305] cannot use operator[] with a numeric argument "
            "with object"}),
    [](const ::testing::TestParamInfo<ReplyFailure>& info) {
        return std::string(info.param.input.name);
    });

TEST_F(ProtocolTest, NoReplyIsReportedWithTheRequestsNumbers) {
    ConnectAs(17);
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] {
            protocol.SetResource("ExposureTime", {{"ExposureTime", 1}});
        },
        "No matching response found to request with sessionID: 17 msgID: 2"));
}

}  // namespace
}  // namespace Varkon::QUILApi::WebSockets

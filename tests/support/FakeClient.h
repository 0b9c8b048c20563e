#pragma once

#include "api/QuilApi.h"
#include "support/FakeChannel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace Varkon::QUILApi::Testing {

/// A client whose requests go to a FakeChannel, for tests of single operations.
class FakeClientTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeChannel> channel = std::make_shared<FakeChannel>();
    QuilApi client{std::make_unique<WebSockets::Protocol>(channel), nullptr};
    Quil& quil = client;  // operations are called through the interface, as applications do

    /// The text of a request as the client sends it.
    static std::string Request(const std::string& msgData, int msgID, const char* type) {
        return R"({"msgData":)" + msgData + R"(,"msgID":)" + std::to_string(msgID) +
               R"(,"msgType":")" + type + R"(","sessionID":0})";
    }
    /// Request `index` (the last one by default) as sent, parsed as the sensor parses it.
    nlohmann::json Sent(int index = -1) const {
        const auto& requests = channel->requests;
        return nlohmann::json::parse(requests.at(index < 0 ? requests.size() + index : index));
    }
    /// "msgData" of request `index` as text; the client writes compact JSON, so parsing and
    /// writing it again gives the bytes it sent.
    std::string MsgData(int index = -1) const { return Sent(index).at("msgData").dump(); }

    /// Answers the next request with `body` and returns what `read` makes of it.
    template <class Read>
    auto Reading(const nlohmann::json& body, Read read) {
        channel->Ack(body);
        return read();
    }
};

}  // namespace Varkon::QUILApi::Testing

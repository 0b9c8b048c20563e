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

    /// "msgData" of request `index` (the last one by default), as sent.
    std::string MsgData(int index = -1) const {
        const auto& requests = channel->requests;
        const std::string& text = requests.at(index < 0 ? requests.size() + index : index);
        const auto begin = text.find("\"msgData\":");
        const auto end = text.find(",\"msgID\":");
        if (begin == std::string::npos || end == std::string::npos) {
            return "";
        }
        return text.substr(begin + 10, end - begin - 10);
    }

    /// Answers the next request with `body` and returns what `read` makes of it.
    template <class Read>
    auto Reading(const nlohmann::json& body, Read read) {
        channel->Ack(body);
        return read();
    }
};

}  // namespace Varkon::QUILApi::Testing

#pragma once

#include "websockets/IVarkonWebsocketApi.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Testing {

/// A request channel without a network: records every request text and answers with the
/// reply that the test scripted for it (null, like a time-out, when nothing is scripted).
class FakeChannel : public WebSockets::IVarkonWebsocketApi {
public:
    using Reply = std::function<nlohmann::json(const nlohmann::json& request)>;

    void Connect() override { ++connects; }
    void Close() override { ++closes; }
    std::unique_ptr<nlohmann::json> SendAndWait(const nlohmann::json& request,
                                                unsigned timeoutMs) override {
        requests.push_back(request.dump());
        timeouts.push_back(timeoutMs);
        if (replies.empty()) {
            return std::make_unique<nlohmann::json>();
        }
        auto reply = replies.front();
        replies.erase(replies.begin());
        return std::make_unique<nlohmann::json>(reply(request));
    }

    /// Answers the next request with `reply`, whose "msgID" is set to the request's.
    void Answer(nlohmann::json reply) {
        replies.push_back([reply](const nlohmann::json& request) {
            auto answered = reply;
            answered["msgID"] = request.at("msgID");
            return answered;
        });
    }
    /// Answers the next GET or SET with an ACK carrying `data` (none when null).
    void Ack(nlohmann::json data = nullptr) {
        replies.push_back([data](const nlohmann::json& request) {
            nlohmann::json msgData = nlohmann::json::array({request.at("msgData").at(0)});
            if (!data.is_null()) {
                msgData.push_back(data);
            }
            return nlohmann::json{
                {"msgID", request.at("msgID")}, {"msgType", "ACK"}, {"msgData", msgData}};
        });
    }
    /// Answers the next request with exactly `reply`.
    void AnswerVerbatim(nlohmann::json reply) {
        replies.push_back([reply](const nlohmann::json&) { return reply; });
    }

    std::vector<std::string> requests;
    std::vector<unsigned> timeouts;
    std::vector<Reply> replies;
    int connects = 0;
    int closes = 0;
};

}  // namespace Varkon::QUILApi::Testing

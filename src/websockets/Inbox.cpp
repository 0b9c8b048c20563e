#include "websockets/Inbox.h"

#include "websockets/IVarkonWebsocketApi.h"
#include "websockets/MessageParser.h"

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;

void Inbox::Expect(const json& id) {
    std::lock_guard<std::mutex> lock(mutex);
    expecting = true;
    expectedId = id;
    reply.reset();
}

void Inbox::Offer(std::string_view text) {
    json message = ParseMessage(text);
    if (message.is_null()) {
        message = json{{"msgType", nullptr}};
    }
    if (!message.is_object()) {
        return;  // an array, a number or a string is no message
    }
    const auto type = message.find("msgType");
    if (type != message.end() && *type == "UPDATE") {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (!expecting || reply || MessageId(message) != expectedId) {
        return;
    }
    reply = std::make_unique<json>(std::move(message));
}

bool Inbox::Settled() {
    std::lock_guard<std::mutex> lock(mutex);
    return reply != nullptr || abandoned;
}

std::unique_ptr<json> Inbox::Take() {
    std::lock_guard<std::mutex> lock(mutex);
    expecting = false;
    auto result = std::move(reply);
    return result ? std::move(result) : std::make_unique<json>();
}

void Inbox::Abandon() {
    std::lock_guard<std::mutex> lock(mutex);
    abandoned = true;
}

void Inbox::Reopen() {
    std::lock_guard<std::mutex> lock(mutex);
    abandoned = false;
}

}  // namespace Varkon::QUILApi::WebSockets

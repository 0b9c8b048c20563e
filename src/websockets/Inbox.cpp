#include "websockets/Inbox.h"

#include "websockets/IVarkonWebsocketApi.h"
#include "websockets/MessageParser.h"

#include <algorithm>
#include <thread>

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;

namespace {

constexpr auto kSpinLimit = std::chrono::microseconds(200);

}  // namespace

void Inbox::Expect(const json& id) {
    std::lock_guard<std::mutex> lock(mutex);
    expecting = true;
    expectedId = id;
    reply.reset();
}

void Inbox::Offer(const std::string& text) {
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
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!expecting || reply || MessageId(message) != expectedId) {
            return;
        }
        reply = std::make_unique<json>(std::move(message));
    }
    arrived.notify_all();
}

std::unique_ptr<json> Inbox::Wait(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!reply) {
        // A reply on loopback or a local network often comes within tens of microseconds: look
        // for it briefly before paying for a sleep and a wake-up.
        const auto spinEnd = std::min(deadline, std::chrono::steady_clock::now() + kSpinLimit);
        while (!reply && !abandoned && std::chrono::steady_clock::now() < spinEnd) {
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
        arrived.wait_until(lock, deadline, [this] { return reply != nullptr || abandoned; });
    }
    expecting = false;
    auto result = std::move(reply);
    return result ? std::move(result) : std::make_unique<json>();
}

void Inbox::Abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        abandoned = true;
    }
    arrived.notify_all();
}

void Inbox::Reopen() {
    std::lock_guard<std::mutex> lock(mutex);
    abandoned = false;
}

}  // namespace Varkon::QUILApi::WebSockets

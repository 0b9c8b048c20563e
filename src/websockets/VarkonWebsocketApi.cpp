#include "websockets/VarkonWebsocketApi.h"

#include "websockets/WebSocket.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;

namespace {

constexpr const char* kSubprotocol = "VWS";
// How long a destroyed channel waits for the sensor to answer its close.
constexpr auto kShutdownLimit = std::chrono::milliseconds(1000);
constexpr auto kSpinLimit = std::chrono::microseconds(200);

}  // namespace

VarkonWebsocketApi::VarkonWebsocketApi(const std::string& host)
    : host(host),
      workGuard(std::make_unique<
                boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>(
          ioContext.get_executor())),
      ioThread([this] { ioContext.run(); }) {}

VarkonWebsocketApi::~VarkonWebsocketApi() {
    if (webSocket) {
        webSocket->Shutdown(kShutdownLimit);
        webSocket.reset();
    }
    workGuard.reset();
    // A close the sensor did not answer in time is abandoned with the rest of the pending work.
    ioContext.stop();
    if (ioThread.joinable()) {
        ioThread.join();
    }
}

void VarkonWebsocketApi::Connect() {
    if (webSocket) {
        return;
    }
    try {
        webSocket = std::make_shared<WebSocket>(ioContext, host, kSubprotocol);
        webSocket->SetOnMessage([this](const std::string& text) { OnMessage(text); });
        webSocket->SetOnClose([this] { OnClose(); });
        webSocket->Connect();
    } catch (...) {
        webSocket.reset();
        throw std::runtime_error("Could not connect to host " + host);
    }
}

void VarkonWebsocketApi::Close() {
    // Keep the connection alive through its own Close, whose callback clears webSocket.
    const auto connection = webSocket;
    std::string failure;
    bool failed = false;
    if (connection && connection->IsOpen()) {
        try {
            connection->Close();
        } catch (const std::exception& e) {
            failure = e.what();
            failed = true;
        }
    }
    webSocket.reset();
    if (failed) {
        throw std::runtime_error("VarkonWebsocketApi::Close Error: " + failure);
    }
}

std::unique_ptr<json> VarkonWebsocketApi::SendAndWait(const json& request, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(inboxMutex);
    auto result = std::make_unique<json>();
    if (!webSocket) {
        return result;
    }
    webSocket->Send(request.dump(-1, ' ', false, json::error_handler_t::strict));

    const json& wanted = MessageId(request);
    for (;;) {
        bool timedOut = false;
        if (inbox.empty()) {
            // A reply on loopback or a local network often comes within tens of microseconds:
            // look for it briefly before paying for a sleep and a wake-up.
            const auto spinEnd = std::min(deadline, std::chrono::steady_clock::now() + kSpinLimit);
            while (inbox.empty() && std::chrono::steady_clock::now() < spinEnd) {
                lock.unlock();
                std::this_thread::yield();
                lock.lock();
            }
            timedOut =
                !inboxCondition.wait_until(lock, deadline, [this] { return !inbox.empty(); });
        }
        // Take from the back, so that of two matching messages the earlier one wins; everything
        // else, late replies to earlier requests included, is discarded.
        while (!inbox.empty()) {
            auto message = std::move(inbox.back());
            inbox.pop_back();
            if (MessageId(*message) == wanted) {
                result = std::move(message);
            }
        }
        if (!result->is_null() || timedOut) {
            return result;
        }
    }
}

void VarkonWebsocketApi::OnMessage(const std::string& text) {
    auto message = std::make_unique<json>(json::parse(text));
    if (message->is_null()) {
        // Filed like an object without a type; the next drain discards it.
        *message = json{{"msgType", nullptr}};
    }
    if (!message->is_object()) {
        return;  // an array, a number or a string is no message
    }
    const auto type = message->find("msgType");
    if (type != message->end() && *type == "UPDATE") {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        inbox.push_back(std::move(message));
    }
    inboxCondition.notify_all();
}

void VarkonWebsocketApi::OnClose() {
    webSocket.reset();
}

}  // namespace Varkon::QUILApi::WebSockets

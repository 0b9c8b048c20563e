#include "websockets/VarkonWebsocketApi.h"

#include "websockets/WebSocket.h"

#include <chrono>
#include <stdexcept>

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;

namespace {

constexpr const char* kSubprotocol = "VWS";
// How long a destroyed channel waits for the sensor to answer its close.
constexpr auto kShutdownLimit = std::chrono::milliseconds(1000);

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
    if (webSocket && !webSocket->IsLost()) {
        return;
    }
    if (webSocket) {  // lost: its end is dropped without waiting, and a new one opens
        webSocket->Shutdown(std::chrono::milliseconds(0));
        webSocket.reset();
    }
    try {
        webSocket = std::make_shared<WebSocket>(ioContext, host, kSubprotocol);
        webSocket->SetOnMessage([this](const std::string& text) { OnMessage(text); });
        webSocket->SetOnClose([this] { OnClose(); });
        webSocket->SetOnLost([this] { inbox.Abandon(); });
        inbox.Reopen();
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
    std::lock_guard<std::mutex> lock(requestMutex);
    if (!webSocket || webSocket->IsLost()) {
        return std::make_unique<json>();  // as a time-out, but at once
    }
    // Expected before it is sent, so that no reply can come too early to be kept.
    inbox.Expect(MessageId(request));
    webSocket->Send(request.dump(-1, ' ', false, json::error_handler_t::strict));
    return inbox.Wait(deadline);
}

void VarkonWebsocketApi::OnMessage(const std::string& text) {
    inbox.Offer(text);
}

void VarkonWebsocketApi::OnClose() {
    webSocket.reset();
}

}  // namespace Varkon::QUILApi::WebSockets

#include "websockets/VarkonWebsocketApi.h"

#include "websockets/WebSocket.h"

#include <stdexcept>

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kSubprotocol = "VWS";
// How long a destroyed channel waits for the sensor to answer its close.
constexpr auto kShutdownLimit = std::chrono::milliseconds(1000);
// How often the I/O thread looks whether the request that drives the I/O has ended.
constexpr auto kLookAgain = std::chrono::milliseconds(20);
// The connection and handshake of Connect.
constexpr auto kConnectLimit = std::chrono::milliseconds(30000);

}  // namespace

VarkonWebsocketApi::VarkonWebsocketApi(const std::string& host)
    : host(host),
      workGuard(std::make_unique<
                boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>(
          ioContext.get_executor())),
      ioThread([this] {
          std::unique_lock<std::mutex> lock(ioMutex);
          while (!ending) {
              if (requestDrives || Clock::now() < handBackAt) {
                  // No notification when a request ends: a wake-up per request would cost
                  // back-to-back requests a thread switch each. While one drives, looks again
                  // seldom, as each look may interrupt it on a shared core.
                  ioChanged.wait_until(lock,
                                       requestDrives ? Clock::now() + kLookAgain : handBackAt);
                  continue;
              }
              // Restarted under the lock, so that a request's stop cannot come before it.
              ioContext.restart();
              ioThreadServes = true;
              lock.unlock();
              ioContext.run();
              lock.lock();
              ioThreadServes = false;
              ioChanged.notify_all();
          }
      }) {}

VarkonWebsocketApi::~VarkonWebsocketApi() {
    if (webSocket) {
        ServeFromIoThread();
        webSocket->Shutdown(kShutdownLimit);
        webSocket.reset();
    }
    {
        std::lock_guard<std::mutex> lock(ioMutex);
        ending = true;
    }
    ioChanged.notify_all();
    workGuard.reset();
    // A close the sensor did not answer in time is abandoned with the rest of the pending work.
    ioContext.stop();
    if (ioThread.joinable()) {
        ioThread.join();
    }
}

void VarkonWebsocketApi::ServeFromIoThread() {
    {
        std::lock_guard<std::mutex> lock(ioMutex);
        handBackAt = Clock::time_point();
    }
    ioChanged.notify_all();
}

void VarkonWebsocketApi::TakeOverIo() {
    std::unique_lock<std::mutex> lock(ioMutex);
    requestDrives = true;
    if (ioThreadServes) {
        ioContext.stop();
        ioChanged.wait(lock, [this] { return !ioThreadServes; });
    }
    ioContext.restart();
}

void VarkonWebsocketApi::HandBackIo() {
    std::lock_guard<std::mutex> lock(ioMutex);
    requestDrives = false;
    handBackAt = Clock::now() + kHandBack;
}

void VarkonWebsocketApi::Connect() {
    ConnectWithin(kConnectLimit);
}

void VarkonWebsocketApi::ConnectWithin(std::chrono::milliseconds limit) {
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    if (webSocket && !webSocket->IsLost()) {
        return;
    }
    // Opening a connection waits for work done on the I/O.
    ServeFromIoThread();
    if (webSocket) {  // lost: its end is dropped without waiting, and a new one opens
        webSocket->Shutdown(std::chrono::milliseconds(0));
        webSocket.reset();
    }
    try {
        webSocket = std::make_shared<WebSocket>(ioContext, host, kSubprotocol);
        webSocket->SetOnMessage([this](std::string_view text) { OnMessage(text); });
        webSocket->SetOnClose([this] { OnClose(); });
        webSocket->SetOnLost([this] { inbox.Abandon(); });
        inbox.Reopen();
        webSocket->Connect(limit);
    } catch (...) {
        webSocket.reset();
        throw std::runtime_error("Could not connect to host " + host);
    }
}

void VarkonWebsocketApi::Close() {
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    ServeFromIoThread();
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

bool VarkonWebsocketApi::IsLost() {
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    return webSocket && webSocket->IsLost();
}

std::unique_ptr<json> VarkonWebsocketApi::SendAndWait(const json& request, unsigned timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    if (!webSocket || webSocket->IsLost()) {
        return std::make_unique<json>();  // as a time-out, but at once
    }
    std::string text = request.dump(-1, ' ', false, json::error_handler_t::strict);
    TakeOverIo();
    struct HandBack {
        VarkonWebsocketApi& channel;
        ~HandBack() { channel.HandBackIo(); }
    } handBack{*this};
    // Expected before it is sent, so that no reply can come too early to be kept.
    inbox.Expect(MessageId(request));
    webSocket->SendFromIo(std::move(text));
    while (!inbox.Settled() && Clock::now() < deadline) {
        ioContext.run_one_until(deadline);
    }
    return inbox.Take();
}

void VarkonWebsocketApi::OnMessage(std::string_view text) {
    inbox.Offer(text);
}

void VarkonWebsocketApi::OnClose() {
    webSocket.reset();
}

}  // namespace Varkon::QUILApi::WebSockets

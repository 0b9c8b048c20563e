#pragma once

#include "websockets/IVarkonWebsocketApi.h"
#include "websockets/Inbox.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/thread/thread.hpp>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace Varkon::QUILApi::WebSockets {

class WebSocket;

/// The request channel: turns the asynchronous WebSocket into a blocking request/reply service.
///
/// Threads: the caller's thread runs Connect, Close and SendAndWait. The connection's I/O (every
/// completion handler of the WebSocket, and thus OnMessage, which hands each text to the inbox)
/// runs on whichever thread runs `ioContext`, never on two at once:
/// - a request drives it itself while it waits for its reply: it takes the I/O over, sends and
///   runs the I/O until the reply is kept, the connection is lost or its limit passes, so the
///   reply is read and parsed on the caller's thread without any hand-off between threads;
/// - the channel's own I/O thread runs it while no request waits, so that messages nobody asked
///   for are read and dropped and a connection the sensor ends is noticed. After a request it
///   takes over again only once no request has come for kHandBack, so that back-to-back
///   requests neither wake it nor wait for it; Connect and Close call it back at once, as they
///   wait for work done on the I/O.
/// Requests from several threads take turns. The I/O thread lives from construction to
/// destruction.
///
/// A connection the sensor closed or that broke is lost: the waiting request returns at once,
/// later requests return at once without sending, and Connect opens a new connection. Close
/// waits at most one second for the sensor to answer.
///
/// Lifetime: the connection's callbacks refer to the channel without owning it, so an open
/// connection never keeps the channel alive. The destructor closes the connection and silences
/// its callbacks on the I/O thread before it ends that thread, so no callback can run once the
/// channel starts going away.
class VarkonWebsocketApi : public IVarkonWebsocketApi,
                           public std::enable_shared_from_this<VarkonWebsocketApi> {
public:
    explicit VarkonWebsocketApi(const std::string& host);
    ~VarkonWebsocketApi() override;

    VarkonWebsocketApi(const VarkonWebsocketApi&) = delete;
    VarkonWebsocketApi& operator=(const VarkonWebsocketApi&) = delete;

    /// @throws std::runtime_error "Could not connect to host " + host.
    void Connect() override;
    /// @throws std::runtime_error "VarkonWebsocketApi::Close Error: " + reason.
    void Close() override;
    std::unique_ptr<nlohmann::json> SendAndWait(const nlohmann::json& request,
                                                unsigned timeoutMs) override;

    /// Whether the connection ended other than by Close (see WebSocket::IsLost).
    bool IsLost() override;
    /// Connect with the connection and its handshake bounded by `limit`.
    void ConnectWithin(std::chrono::milliseconds limit) override;

    /// How long the I/O thread leaves the I/O to requests after the last one.
    static constexpr std::chrono::milliseconds kHandBack{2};

private:
    void OnMessage(std::string_view text);
    void OnClose();
    void ServeFromIoThread();
    /// Takes the I/O over from the I/O thread, for the one request in progress.
    void TakeOverIo();
    void HandBackIo();

    std::string host;

    // Declared before everything that uses it, so that it is destroyed last.
    boost::asio::io_context ioContext;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        workGuard;
    std::shared_ptr<WebSocket> webSocket;
    Inbox inbox;

    // Who runs ioContext: the I/O thread while `ioThreadServes`, else the request in progress.
    std::mutex ioMutex;
    std::condition_variable ioChanged;
    bool ioThreadServes = false;  // the I/O thread is inside ioContext.run()
    bool requestDrives = false;
    bool ending = false;
    std::chrono::steady_clock::time_point handBackAt;  // the I/O thread waits until then
    boost::thread ioThread;
};

}  // namespace Varkon::QUILApi::WebSockets

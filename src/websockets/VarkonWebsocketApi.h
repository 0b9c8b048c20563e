#pragma once

#include "websockets/IVarkonWebsocketApi.h"
#include "websockets/Inbox.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/thread/thread.hpp>

#include <memory>
#include <mutex>
#include <string>

namespace Varkon::QUILApi::WebSockets {

class WebSocket;

/// The request channel: turns the asynchronous WebSocket into a blocking request/reply service.
///
/// Threads: the caller's thread runs Connect, Close and SendAndWait; the channel's own I/O
/// thread runs every completion handler of the WebSocket and thus OnMessage, which hands each
/// text to the inbox. Requests from several threads take turns. The I/O thread lives from
/// construction to destruction.
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

private:
    void OnMessage(const std::string& text);
    void OnClose();

    std::string host;
    // Declared before everything that uses it, so that it is destroyed last.
    boost::asio::io_context ioContext;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        workGuard;
    std::shared_ptr<WebSocket> webSocket;
    std::mutex requestMutex;  // one request waits at a time
    Inbox inbox;
    boost::thread ioThread;
};

}  // namespace Varkon::QUILApi::WebSockets

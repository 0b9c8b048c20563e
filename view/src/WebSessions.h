#pragma once

// The view's connections: an HTTP session serves the built-in page and hands a request for
// "/ws" over to a WebSocket session, which sends the browser its frames through a bounded
// backlog and passes what the page says to the hub. Everything here runs on the server's one
// I/O thread.

#include "BoundedBacklog.h"
#include "ConnectionSlots.h"
#include "RequestPolicy.h"

#include <quil/view/ViewServer.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <memory>
#include <optional>
#include <string>

namespace Varkon::QUILApi::View {

class WebSocketSession;

/// What the sessions report to: the server.
class SessionHub {
public:
    virtual ~SessionHub() = default;
    /// A browser connected; it should be sent the view's description first.
    virtual void Join(const std::shared_ptr<WebSocketSession>& session) = 0;
    virtual void Leave(const std::shared_ptr<WebSocketSession>& session) = 0;
    /// A message from the page.
    virtual void Command(WebSocketSession& session, const std::string& text) = 0;
    virtual std::size_t BacklogCapacity() const = 0;
    /// Counts a message that a full backlog discarded.
    virtual void CountDropped() = 0;
    /// The program's answer to a request that is not for the page, if it has one.
    virtual std::optional<HttpAnswer> Answer(const std::string& method,
                                             const std::string& target) = 0;
    virtual const RequestPolicy& Policy() const = 0;
    /// Counts a connection that begins, among the server's bounded connections.
    virtual void Open(const std::shared_ptr<Connection>& connection) = 0;
    /// Counts a request that the policy refused.
    virtual void CountRefused() = 0;
};

/// Serves requests until the browser upgrades to a WebSocket or goes.
class HttpSession : public Connection, public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket socket, SessionHub& hub);
    void Run();
    bool Idle() const override;
    bool Watching() const override { return false; }
    void Close() override;

private:
    void Read();
    void Respond(boost::beast::http::request<boost::beast::http::string_body> request);

    boost::beast::tcp_stream stream;
    boost::beast::flat_buffer buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser;
    SessionHub& hub;
};

class WebSocketSession : public Connection, public std::enable_shared_from_this<WebSocketSession> {
public:
    using Message = std::shared_ptr<const std::string>;

    WebSocketSession(boost::beast::tcp_stream stream, SessionHub& hub);
    void Run(boost::beast::http::request<boost::beast::http::string_body> upgrade);
    bool Idle() const override { return false; }
    bool Watching() const override { return true; }
    void Close() override;
    /// Queues `message`; when the backlog is full the oldest waiting message goes.
    void Send(Message message);
    /// The view's description, sent before anything that waits; never dropped, and a newer
    /// one replaces one still waiting.
    void SendHello(Message hello);
    /// The sensor whose frames this browser is shown, by its number in the view's hello.
    uint64_t sensor = 0;

private:
    void Read();
    void WriteNext();
    void Fail();

    boost::beast::websocket::stream<boost::beast::tcp_stream> socket;
    boost::beast::flat_buffer buffer;
    SessionHub& hub;
    BoundedBacklog<Message> backlog;
    Message hello;
    Message writing;
    uint64_t droppedTold = 0;
    bool joined = false;
};

}  // namespace Varkon::QUILApi::View

#include "WebSessions.h"

#include "WebAssets.h"

#include <nlohmann/json.hpp>

#include <chrono>

namespace Varkon::QUILApi::View {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {
// How long a connection may take to send a request, or wait before its next one.
constexpr auto kIdleRequest = std::chrono::seconds(10);
// A browser answers the server's pings by itself; a peer that answers nothing for this long is
// gone or not a browser.
constexpr auto kBrowserSilence = std::chrono::seconds(30);
constexpr std::size_t kLargestRequest = 16 * 1024;
// The page only ever says short things: choose a sensor, start or stop a recording.
constexpr std::size_t kLargestPageMessage = 4096;
// What the system holds for a browser on top of the backlog: small, so that a browser that
// reads slowly is shown fresh frames late rather than stale frames for seconds.
constexpr int kSendBuffer = 256 * 1024;
}  // namespace

HttpSession::HttpSession(boost::asio::ip::tcp::socket socket, SessionHub& hub)
    : stream(std::move(socket)), hub(hub) {}

void HttpSession::Run() {
    hub.Open(shared_from_this());
    Read();
}

bool HttpSession::Idle() const {
    return parser && !parser->got_some() && buffer.size() == 0;
}

void HttpSession::Close() {
    beast::error_code ignored;
    stream.socket().close(ignored);
}

void HttpSession::Read() {
    parser.emplace();
    parser->body_limit(kLargestRequest);
    parser->header_limit(kLargestRequest);
    stream.expires_after(kIdleRequest);
    http::async_read(stream, buffer, *parser,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         if (error) {
                             beast::error_code ignored;
                             self->stream.socket().shutdown(
                                 boost::asio::ip::tcp::socket::shutdown_both, ignored);
                             return;
                         }
                         self->Respond(self->parser->release());
                     });
}

void HttpSession::Respond(http::request<http::string_body> request) {
    parser.reset();
    const std::optional<Refusal> refusal = hub.Policy().Check(request);
    if (refusal) {
        hub.CountRefused();
    }
    if (!refusal && websocket::is_upgrade(request) && request.target() == "/ws") {
        stream.expires_never();
        std::make_shared<WebSocketSession>(std::move(stream), hub)->Run(std::move(request));
        return;
    }
    auto response = std::make_shared<http::response<http::string_body>>();
    response->version(request.version());
    response->keep_alive(request.keep_alive());
    response->set(http::field::server, "quil view");
    response->set(http::field::cache_control, "no-store");
    const WebAsset* asset =
        FindWebAsset(std::string_view(request.target().data(), request.target().size()));
    std::optional<HttpAnswer> answer;
    if (refusal) {
        answer = HttpAnswer{refusal->status, "text/plain; charset=utf-8", refusal->text};
    } else if (asset == nullptr) {
        answer = hub.Answer(std::string(request.method_string()), std::string(request.target()));
    }
    if (answer) {
        response->keep_alive(false);
        response->result(static_cast<http::status>(answer->status));
        response->set(http::field::content_type, answer->contentType);
        response->body() = std::move(answer->body);
    } else if (request.method() != http::verb::get && request.method() != http::verb::head) {
        response->result(http::status::method_not_allowed);
        response->set(http::field::content_type, "text/plain");
        response->body() = "Only GET is served here.\n";
    } else if (asset == nullptr) {
        response->result(http::status::not_found);
        response->set(http::field::content_type, "text/plain");
        response->body() = "Not found.\n";
    } else {
        response->result(http::status::ok);
        response->set(http::field::content_type, std::string(asset->contentType));
        if (request.method() == http::verb::get) {
            response->body() = std::string(asset->body);
        }
    }
    response->prepare_payload();
    http::async_write(stream, *response,
                      [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                          if (error || !response->keep_alive()) {
                              beast::error_code ignored;
                              self->stream.socket().shutdown(
                                  boost::asio::ip::tcp::socket::shutdown_send, ignored);
                              return;
                          }
                          self->Read();
                      });
}

WebSocketSession::WebSocketSession(beast::tcp_stream stream, SessionHub& hub)
    : socket(std::move(stream)), hub(hub), backlog(hub.BacklogCapacity()) {}

void WebSocketSession::Run(http::request<http::string_body> upgrade) {
    hub.Open(shared_from_this());
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = kIdleRequest;
    timeouts.idle_timeout = kBrowserSilence;
    timeouts.keep_alive_pings = true;
    socket.set_option(timeouts);
    socket.read_message_max(kLargestPageMessage);
    beast::error_code ignored;
    beast::get_lowest_layer(socket).socket().set_option(
        boost::asio::socket_base::send_buffer_size(kSendBuffer), ignored);
    socket.async_accept(upgrade, [self = shared_from_this()](beast::error_code error) {
        if (error) {
            return;
        }
        self->joined = true;
        self->hub.Join(self);
        self->Read();
    });
}

void WebSocketSession::Read() {
    socket.async_read(buffer, [self = shared_from_this()](beast::error_code error, std::size_t) {
        if (error) {
            self->Fail();
            return;
        }
        const std::string text = beast::buffers_to_string(self->buffer.data());
        self->buffer.consume(self->buffer.size());
        self->hub.Command(*self, text);
        self->Read();
    });
}

void WebSocketSession::Send(Message message) {
    const uint64_t before = backlog.Dropped();
    backlog.Push(std::move(message));
    if (backlog.Dropped() != before) {
        hub.CountDropped();
    }
    if (!writing) {
        WriteNext();
    }
}

void WebSocketSession::SendHello(Message message) {
    hello = std::move(message);
    if (!writing) {
        WriteNext();
    }
}

void WebSocketSession::WriteNext() {
    if (backlog.Empty() && !hello) {
        writing.reset();
        return;
    }
    if (hello) {
        writing = std::move(hello);
        hello.reset();
    } else if (backlog.Dropped() != droppedTold) {
        // The page tells its user how much it missed because it read too slowly.
        droppedTold = backlog.Dropped();
        writing = std::make_shared<const std::string>(
            nlohmann::json{{"type", "dropped"}, {"total", droppedTold}}.dump());
    } else {
        writing = backlog.Pop();
    }
    socket.text(true);
    socket.async_write(boost::asio::buffer(*writing),
                       [self = shared_from_this()](beast::error_code error, std::size_t) {
                           if (error) {
                               self->Fail();
                               return;
                           }
                           self->WriteNext();
                       });
}

void WebSocketSession::Close() {
    beast::error_code ignored;
    beast::get_lowest_layer(socket).socket().close(ignored);
}

void WebSocketSession::Fail() {
    if (joined) {
        joined = false;
        hub.Leave(shared_from_this());
    }
}

}  // namespace Varkon::QUILApi::View

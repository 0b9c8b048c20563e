#include "websockets/WebSocket.h"

#include <quil/SensorAddress.h>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket/option.hpp>

#if !defined(_WIN32)
#include <fcntl.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace Varkon::QUILApi::WebSockets {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;
namespace http = boost::beast::http;

namespace {

constexpr const char* kTarget = "/websocket";
constexpr auto kConnectLimit = std::chrono::seconds(10);
constexpr auto kHandshakeLimit = std::chrono::seconds(30);

// The handshake fields the sensor's HTTP service expects, in this order, on top of Beast's own.
void DecorateHandshake(websocket::request_type& request, const std::string& subprotocol) {
    request.set(http::field::user_agent, std::string("Boost.Beast/318") + " websocket-client-coro");
    request.set(http::field::accept, "*/*");
    request.set(http::field::accept_language, "en-US,en;q=0.5");
    request.set(http::field::accept_encoding, "gzip, deflate");
    request.set(http::field::sec_websocket_protocol, subprotocol);
    request.set(http::field::sec_websocket_extensions, "permessage-deflate");
    request.set(http::field::connection, "keep-alive, Upgrade");
    request.set(http::field::pragma, "no-cache");
    request.set(http::field::cache_control, "no-cache");
}

}  // namespace

WebSocket::WebSocket(asio::io_context& ioContext, const std::string& host,
                     const std::string& subprotocol)
    : strand(asio::make_strand(ioContext)),
      resolver(strand),
      wsStream(strand),
      address(host),
      host(SplitSensorAddress(host).host),
      subprotocol(subprotocol),
      port(SplitSensorAddress(host).port) {
    // The handshake offers compression with a plain header value; should the server accept it,
    // the stream must be able to inflate and deflate frames.
    websocket::permessage_deflate deflate;
    deflate.client_enable = true;
    wsStream.set_option(deflate);
}

WebSocket::~WebSocket() = default;

template <class Work>
auto WebSocket::RunOnStrand(Work work) const -> decltype(work()) {
    if (strand.running_in_this_thread()) {
        return work();
    }
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    asio::post(strand, [&task] { task(); });
    return result.get();
}

void WebSocket::Connect() {
    Connect(kHandshakeLimit);
}

void WebSocket::Connect(std::chrono::milliseconds limit) {
    try {
        std::mutex mutex;
        std::condition_variable condition;
        int count = 0;
        boost::system::error_code result;

        auto self = shared_from_this();
        asio::spawn(strand,
                    [self, limit, &result, &mutex, &condition, &count](asio::yield_context yield) {
                        self->RunConnection(yield, limit, result);
                        // Notify under the lock: the waiter owns these locals and returns once it
                        // sees the count.
                        std::lock_guard<std::mutex> lock(mutex);
                        ++count;
                        condition.notify_all();
                    });

        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [&count] { return count > 0; });
        --count;
        if (result) {
            throw std::runtime_error(result.message());
        }
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("WebSocket::Connect Error: ") + e.what());
    }
}

void WebSocket::RunConnection(asio::yield_context yield, std::chrono::milliseconds limit,
                              boost::system::error_code& result) {
    const auto endpoints = resolver.async_resolve(host, port, yield[result]);
    if (result) {
        return;
    }

    auto& tcp = beast::get_lowest_layer(wsStream);
    tcp.expires_after(std::min<std::chrono::milliseconds>(kConnectLimit, limit));
    tcp.async_connect(endpoints, yield[result]);
    if (result) {
        return;
    }
#if !defined(_WIN32)
    // Programs the application starts do not inherit the connection.
    ::fcntl(tcp.socket().native_handle(), F_SETFD, FD_CLOEXEC);
#endif
    // Requests are small and each waits for its reply: send them at once.
    tcp.socket().set_option(asio::ip::tcp::no_delay(true), result);
    result.clear();

    websocket::stream_base::timeout limits{};
    limits.handshake_timeout = std::min<std::chrono::milliseconds>(kHandshakeLimit, limit);
    limits.idle_timeout = websocket::stream_base::none();
    limits.keep_alive_pings = false;
    wsStream.set_option(limits);
    wsStream.set_option(websocket::stream_base::decorator(
        [subprotocol = subprotocol](websocket::request_type& request) {
            DecorateHandshake(request, subprotocol);
        }));

    // From here on the WebSocket's own time limits govern.
    tcp.expires_never();
    // The Host field names the port too where it is not the default, as HTTP asks.
    wsStream.async_handshake(address, kTarget, yield[result]);
    if (result) {
        return;
    }
    // The read loop starts before Connect returns, so no message can be missed.
    StartRead();
}

void WebSocket::StartRead() {
    wsStream.async_read(readBuffer,
                        beast::bind_front_handler(&WebSocket::OnRead, shared_from_this()));
}

void WebSocket::OnRead(beast::error_code error, std::size_t) {
    if (error) {
        // Closed by either side or failed: the read loop ends. Unless this end closes, the
        // connection is lost, and requests waiting for it need not wait any longer.
        if (!closing && !lost.exchange(true) && onLost) {
            onLost();
        }
        return;
    }
    if (onMessage) {
        try {
            // The flat buffer holds the message in one piece: handed over where it lies.
            onMessage(std::string_view(static_cast<const char*>(readBuffer.data().data()),
                                       readBuffer.size()));
        } catch (const std::exception&) {
            // A message the owner could not handle does not end the connection.
        }
    }
    readBuffer.consume(readBuffer.size());
    StartRead();
}

void WebSocket::Send(std::string text) {
    asio::post(strand, [self = shared_from_this(), text = std::move(text)]() mutable {
        self->SendFromIo(std::move(text));
    });
}

void WebSocket::SendFromIo(std::string text) {
    outgoing.push_back(std::move(text));
    if (outgoing.size() == 1) {
        StartWrite();
    }
}

void WebSocket::StartWrite() {
    wsStream.text(true);
    wsStream.async_write(asio::buffer(outgoing.front()),
                         beast::bind_front_handler(&WebSocket::OnWrite, shared_from_this()));
}

void WebSocket::OnWrite(beast::error_code, std::size_t) {
    // A failed write is not reported: the request it carried times out.
    outgoing.pop_front();
    if (!outgoing.empty()) {
        StartWrite();
    }
}

std::future<boost::system::error_code> WebSocket::StartClose() {
    auto done = std::make_shared<std::promise<boost::system::error_code>>();
    auto result = done->get_future();
    asio::post(strand, [self = shared_from_this(), done] {
        if (!self->wsStream.is_open()) {
            done->set_value(websocket::error::closed);
            return;
        }
        self->wsStream.async_close(
            websocket::close_code::normal,
            [self, done](beast::error_code error) { done->set_value(error); });
    });
    return result;
}

void WebSocket::Close() {
    closing = true;
    std::optional<std::string> failure;
    try {
        auto closed = StartClose();
        if (closed.wait_for(kCloseLimit) == std::future_status::ready) {
            const auto error = closed.get();
            if (error && error != websocket::error::closed) {
                failure = error.message();
            }
        } else {
            // The sensor never answered the close: drop the connection, which also ends the
            // close that waits for the answer.
            asio::post(strand, [self = shared_from_this()] {
                beast::get_lowest_layer(self->wsStream).close();
            });
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (onClose) {
        try {
            onClose();
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    SetOnMessage(nullptr);
    if (failure) {
        throw std::runtime_error("WebSocket::Close Error: " + *failure);
    }
}

void WebSocket::Shutdown(std::chrono::milliseconds limit) {
    closing = true;
    onClose = nullptr;
    SetOnMessage(nullptr);
    StartClose().wait_for(limit);
}

bool WebSocket::IsOpen() const {
    return RunOnStrand([this] { return wsStream.is_open(); });
}

void WebSocket::SetOnMessage(MessageHandler handler) {
    // The read loop calls onMessage on the strand; swap it there so that a handler is never
    // replaced or destroyed while it runs.
    RunOnStrand([this, &handler] { onMessage.swap(handler); });
}

void WebSocket::SetOnClose(CloseHandler handler) {
    onClose.swap(handler);
}

void WebSocket::SetOnLost(LostHandler handler) {
    onLost.swap(handler);
}

}  // namespace Varkon::QUILApi::WebSockets

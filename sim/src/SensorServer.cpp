#include "TestingSensorServer.h"

#include <quil/sim/SensorServer.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <fcntl.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace Varkon::QUILApi::Sim {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = asio::ip::tcp;
using nlohmann::json;

class SocketConnection;

class SensorServer::Impl {
public:
    Impl(const std::string& address, uint16_t port, TestingSensorServer::Options options)
        : address(address),
          options(options),
          io(std::make_unique<asio::io_context>()),
          acceptor(std::make_unique<tcp::acceptor>(
              *io, tcp::endpoint(asio::ip::make_address(address), port), true)) {
        // A program started by the process that runs the sensor (a test starting the tool)
        // must not keep its port after the sensor stops.
        ::fcntl(acceptor->native_handle(), F_SETFD, FD_CLOEXEC);
    }

    void Start() {
        Accept();
        thread = std::thread([this] { io->run(); });
    }

    // Ends the I/O thread, then destroys every pending operation and with it every connection,
    // while the rest of this object is still alive for their destructors. Runs once.
    void Stop() {
        if (!io) {
            return;
        }
        io->stop();
        if (thread.joinable()) {
            thread.join();
        }
        acceptor.reset();
        io.reset();
    }

    void Accept();
    // Calls the handler in `slot` as it is now, outside the lock.
    template <class Slot, class... Args>
    void Tell(const Slot& slot, Args&&... args) {
        Slot current;
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = slot;
        }
        if (current) {
            current(std::forward<Args>(args)...);
        }
    }
    void SetOpen(const std::shared_ptr<SocketConnection>& connection);
    void SetClosed(SocketConnection* connection);
    // The open connections, taken out of the lock so that none is released while it is held.
    std::vector<std::shared_ptr<SocketConnection>> LiveConnections() {
        std::vector<std::shared_ptr<SocketConnection>> connections;
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [key, connection] : openConnections) {
            if (auto alive = connection.lock()) {
                connections.push_back(std::move(alive));
            }
        }
        return connections;
    }

    template <class Predicate>
    bool WaitUntil(std::chrono::milliseconds limit, Predicate predicate) const {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, predicate);
    }

    const std::string address;
    TestingSensorServer::Options options;
    std::unique_ptr<asio::io_context> io;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::thread thread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Handler handler;
    ConnectionHandler connectionHandler;
    TestingSensorServer::HandshakeHandler handshakeHandler;
    std::map<SocketConnection*, std::weak_ptr<SocketConnection>> openConnections;
};

// One connection, driven entirely on the server's single I/O thread.
class SocketConnection : public Connection, public std::enable_shared_from_this<SocketConnection> {
public:
    SocketConnection(tcp::socket socket, SensorServer::Impl* sensor)
        : ws(std::move(socket)), sensor(sensor) {
        boost::system::error_code error;
        // Replies followed at once by further messages must not wait for the client's ACK.
        beast::get_lowest_layer(ws).socket().set_option(tcp::no_delay(true), error);
        const auto remote = beast::get_lowest_layer(ws).socket().remote_endpoint(error);
        if (!error) {
            peer = remote.address().to_string() + ":" + std::to_string(remote.port());
        }
    }

    ~SocketConnection() override { sensor->SetClosed(this); }

    void Start() {
        asio::async_read_until(
            beast::get_lowest_layer(ws), requestBuffer, "\r\n\r\n",
            [self = shared_from_this()](boost::system::error_code error, std::size_t bytes) {
                self->OnHandshakeRequest(error, bytes);
            });
    }

    void Send(std::string text, std::chrono::milliseconds delay) override {
        auto self = weak_from_this().lock();
        if (!self) {
            return;
        }
        if (delay.count() <= 0) {
            asio::post(ws.get_executor(), [self, text = std::move(text)]() mutable {
                self->Queue({std::move(text), 1, nullptr});
            });
            return;
        }
        auto timer = std::make_shared<asio::steady_timer>(ws.get_executor(), delay);
        timer->async_wait([self, timer, text = std::move(text)](boost::system::error_code) mutable {
            self->Queue({std::move(text), 1, nullptr});
        });
    }

    // Writes `text` `count` times, then pings; `read` is told when the pong comes back.
    void Flood(std::string text, std::size_t count, std::function<void()> read) {
        asio::post(ws.get_executor(), [self = shared_from_this(), text = std::move(text), count,
                                       read = std::move(read)]() mutable {
            self->Queue({std::move(text), count, std::move(read)});
        });
    }

    void Close() override {
        asio::post(ws.get_executor(), [self = shared_from_this()] {
            if (self->ws.is_open()) {
                self->ws.async_close(
                    websocket::close_code::normal,
                    [self](boost::system::error_code) { self->sensor->SetClosed(self.get()); });
            }
        });
    }

    std::string Peer() const override { return peer; }

    void Drop() override {
        asio::post(ws.get_executor(), [self = shared_from_this()] {
            boost::system::error_code ignored;
            auto& socket = beast::get_lowest_layer(self->ws).socket();
            socket.shutdown(tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
            self->sensor->SetClosed(self.get());
        });
    }

private:
    void OnHandshakeRequest(boost::system::error_code error, std::size_t bytes) {
        if (error) {
            return;
        }
        std::string raw(asio::buffers_begin(requestBuffer.data()),
                        asio::buffers_begin(requestBuffer.data()) + bytes);
        requestBuffer.consume(bytes);
        sensor->Tell(sensor->handshakeHandler, raw);
        if (!sensor->options.answerHandshake) {
            // Keep the connection (and this one) alive without answering.
            idle = std::make_shared<asio::steady_timer>(ws.get_executor(), std::chrono::hours(1));
            idle->async_wait([self = shared_from_this()](boost::system::error_code) {});
            return;
        }

        http::request_parser<http::empty_body> parser;
        boost::system::error_code parseError;
        parser.put(asio::buffer(raw), parseError);
        if (parseError || !parser.is_header_done()) {
            return;
        }

        if (sensor->options.deflate) {
            websocket::permessage_deflate deflate;
            deflate.server_enable = true;
            ws.set_option(deflate);
        }
        // One frame per message: Beast's default of 4 KB frames costs milliseconds per image.
        ws.auto_fragment(false);
        auto request = parser.release();
        const auto protocol = std::string(request[http::field::sec_websocket_protocol]);
        ws.set_option(
            websocket::stream_base::decorator([protocol](websocket::response_type& response) {
                if (!protocol.empty()) {
                    response.set(http::field::sec_websocket_protocol, protocol);
                }
            }));
        ws.async_accept(request, [self = shared_from_this()](boost::system::error_code error) {
            if (error) {
                return;
            }
            std::weak_ptr<SocketConnection> weak = self;
            self->ws.control_callback([weak](websocket::frame_type kind, beast::string_view) {
                auto alive = weak.lock();
                if (alive && kind == websocket::frame_type::pong && alive->onPong) {
                    std::exchange(alive->onPong, nullptr)();
                }
            });
            self->sensor->SetOpen(self);
            self->Read();
        });
    }

    void Read() {
        ws.async_read(
            readBuffer, [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                if (error) {
                    self->sensor->SetClosed(self.get());
                    return;
                }
                std::string text = beast::buffers_to_string(self->readBuffer.data());
                self->readBuffer.consume(self->readBuffer.size());
                self->sensor->Tell(self->sensor->handler, static_cast<Connection&>(*self), text);
                self->Read();
            });
    }

    // A text to write `copies` times; `then`, when set, pings after the last copy and waits for
    // the pong.
    struct Outgoing {
        std::string text;
        std::size_t copies;
        std::function<void()> then;
    };

    void Queue(Outgoing entry) {
        outgoing.push_back(std::move(entry));
        if (outgoing.size() == 1) {
            Write();
        }
    }

    void Write() {
        Outgoing& front = outgoing.front();
        if (front.copies == 0) {
            Finish(front);
            return;
        }
        ws.text(true);
        ws.async_write(asio::buffer(front.text),
                       [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                           if (error) {
                               self->outgoing.pop_front();
                               return;
                           }
                           Outgoing& written = self->outgoing.front();
                           if (--written.copies > 0) {
                               self->Write();
                           } else {
                               self->Finish(written);
                           }
                       });
    }

    // Ends the front entry (with its ping, when it has one) and starts the next.
    void Finish(Outgoing& entry) {
        const auto next = [self = shared_from_this()](boost::system::error_code error) {
            self->outgoing.pop_front();
            if (!error && !self->outgoing.empty()) {
                self->Write();
            }
        };
        if (!entry.then) {
            next({});
            return;
        }
        onPong = std::move(entry.then);
        ws.async_ping({}, next);
    }

    websocket::stream<beast::tcp_stream> ws;
    SensorServer::Impl* sensor;
    asio::streambuf requestBuffer;
    beast::flat_buffer readBuffer;
    std::deque<Outgoing> outgoing;
    std::function<void()> onPong;
    std::shared_ptr<asio::steady_timer> idle;
    std::string peer;
};

void SensorServer::Impl::SetOpen(const std::shared_ptr<SocketConnection>& connection) {
    ConnectionHandler observer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        openConnections[connection.get()] = connection;
        observer = connectionHandler;
    }
    changed.notify_all();
    if (observer) {
        observer(*connection, true);
    }
}

void SensorServer::Impl::SetClosed(SocketConnection* connection) {
    ConnectionHandler observer;
    bool wasOpen = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wasOpen = openConnections.erase(connection) > 0;
        observer = connectionHandler;
    }
    changed.notify_all();
    if (wasOpen && observer) {
        observer(*connection, false);
    }
}

void SensorServer::Impl::Accept() {
    acceptor->async_accept([this](boost::system::error_code error, tcp::socket socket) {
        if (error) {
            return;
        }
        ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
        std::make_shared<SocketConnection>(std::move(socket), this)->Start();
        Accept();
    });
}

SensorServer::SensorServer(const std::string& address, uint16_t port)
    : SensorServer(std::make_unique<Impl>(address, port, TestingSensorServer::Options{})) {}

SensorServer::SensorServer(std::unique_ptr<Impl> server) : impl(std::move(server)) {
    impl->Start();
}

TestingSensorServer::TestingSensorServer(const std::string& address, Options options)
    : SensorServer(std::make_unique<Impl>(address, 80, options)) {}

SensorServer::~SensorServer() {
    impl->Stop();
}

void SensorServer::Stop() {
    impl->Stop();
}

void SensorServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->handler = std::move(handler);
}

void SensorServer::SetConnectionHandler(ConnectionHandler handler) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->connectionHandler = std::move(handler);
}

void TestingSensorServer::SetHandshakeHandler(HandshakeHandler handler) {
    Impl& impl = Implementation();
    std::lock_guard<std::mutex> lock(impl.mutex);
    impl.handshakeHandler = std::move(handler);
}

const std::string& SensorServer::Address() const {
    return impl->address;
}

std::size_t SensorServer::OpenConnections() const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->openConnections.size();
}

bool SensorServer::WaitForOpenConnections(std::size_t count,
                                          std::chrono::milliseconds limit) const {
    return impl->WaitUntil(limit, [this, count] { return impl->openConnections.size() == count; });
}

void SensorServer::Broadcast(const std::string& text) {
    for (const auto& connection : impl->LiveConnections()) {
        static_cast<Connection&>(*connection).Send(text);
    }
}

void SensorServer::CloseAll() {
    for (const auto& connection : impl->LiveConnections()) {
        static_cast<Connection&>(*connection).Close();
    }
}

bool TestingSensorServer::Flood(const std::string& text, std::size_t count,
                                std::chrono::milliseconds limit) {
    Impl& impl = Implementation();
    const auto connections = impl.LiveConnections();
    auto pending = std::make_shared<std::size_t>(connections.size());
    for (const auto& connection : connections) {
        // The pong comes on the server's thread; the count is guarded by the server's mutex.
        connection->Flood(text, count, [&impl, pending] {
            {
                std::lock_guard<std::mutex> lock(impl.mutex);
                --*pending;
            }
            impl.changed.notify_all();
        });
    }
    return impl.WaitUntil(limit, [pending] { return *pending == 0; });
}

std::string SensorServer::Ack(const json& request, const json& data) {
    json reply = {{"msgID", request.value("msgID", json())}, {"msgType", "ACK"}};
    if (request.contains("msgData") && request["msgData"].is_array() &&
        !request["msgData"].empty()) {
        json replyData = json::array({request["msgData"][0]});
        if (!data.is_null()) {
            replyData.push_back(data);
        }
        reply["msgData"] = std::move(replyData);
    }
    return reply.dump();
}

std::string SensorServer::Err(const json& request, const std::string& code, const json& details) {
    json name = "";
    if (request.contains("msgData") && request["msgData"].is_array() &&
        !request["msgData"].empty()) {
        name = request["msgData"][0];
    }
    json replyData = json::array({name, code});
    if (!details.is_null()) {
        replyData.push_back(details);
    }
    return json({{"msgData", replyData},
                 {"msgID", request.value("msgID", json())},
                 {"msgType", "ERR"}})
        .dump();
}

}  // namespace Varkon::QUILApi::Sim

#include "TestSensor.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

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

class Session;

class TestSensor::Impl {
public:
    Impl(const std::string& address, Options options)
        : address(address),
          options(options),
          io(std::make_unique<asio::io_context>()),
          acceptor(std::make_unique<tcp::acceptor>(
              *io, tcp::endpoint(asio::ip::make_address(address), 80), true)) {}

    void Start() {
        Accept();
        thread = std::thread([this] { io->run(); });
    }

    // Ends the I/O thread, then destroys every pending operation and with it every session,
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
    void Record(std::vector<std::string>& log, std::string text) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(std::move(text));
        }
        changed.notify_all();
    }
    void Handle(Connection& connection, const std::string& text) {
        Handler current;
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = handler;
        }
        if (current) {
            current(connection, text);
        }
    }
    void SetOpen(const std::shared_ptr<Session>& session);
    void SetClosed(Session* session);
    // The open sessions, taken out of the lock so that none is released while it is held.
    std::vector<std::shared_ptr<Session>> OpenSessions() {
        std::vector<std::shared_ptr<Session>> sessions;
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [key, session] : openSessions) {
            if (auto alive = session.lock()) {
                sessions.push_back(std::move(alive));
            }
        }
        return sessions;
    }

    template <class Predicate>
    bool WaitUntil(std::chrono::milliseconds limit, Predicate predicate) const {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, predicate);
    }

    const std::string address;
    Options options;
    std::unique_ptr<asio::io_context> io;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::thread thread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Handler handler;
    ConnectionHandler connectionHandler;
    std::vector<std::string> received;
    std::vector<std::string> handshakes;
    std::map<Session*, std::weak_ptr<Session>> openSessions;
    std::map<std::string, json> resources;
    std::map<std::string, json> errors;  // resource -> [code, details]
    uint32_t nextSessionId = 17;
};

// One connection, driven entirely on the sensor's single I/O thread.
class Session : public Connection, public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, TestSensor::Impl* sensor) : ws(std::move(socket)), sensor(sensor) {
        boost::system::error_code error;
        // Replies followed at once by further messages must not wait for the client's ACK.
        beast::get_lowest_layer(ws).socket().set_option(tcp::no_delay(true), error);
        const auto remote = beast::get_lowest_layer(ws).socket().remote_endpoint(error);
        if (!error) {
            peer = remote.address().to_string() + ":" + std::to_string(remote.port());
        }
    }

    ~Session() override { sensor->SetClosed(this); }

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
        sensor->Record(sensor->handshakes, raw);
        if (!sensor->options.answerHandshake) {
            // Keep the connection (and this session) alive without answering.
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
            std::weak_ptr<Session> weak = self;
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
        ws.async_read(readBuffer,
                      [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                          if (error) {
                              self->sensor->SetClosed(self.get());
                              return;
                          }
                          std::string text = beast::buffers_to_string(self->readBuffer.data());
                          self->readBuffer.consume(self->readBuffer.size());
                          self->sensor->Record(self->sensor->received, text);
                          self->sensor->Handle(*self, text);
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
    TestSensor::Impl* sensor;
    asio::streambuf requestBuffer;
    beast::flat_buffer readBuffer;
    std::deque<Outgoing> outgoing;
    std::function<void()> onPong;
    std::shared_ptr<asio::steady_timer> idle;
    std::string peer;
};

void TestSensor::Impl::SetOpen(const std::shared_ptr<Session>& session) {
    ConnectionHandler observer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        openSessions[session.get()] = session;
        observer = connectionHandler;
    }
    changed.notify_all();
    if (observer) {
        observer(*session, true);
    }
}

void TestSensor::Impl::SetClosed(Session* session) {
    ConnectionHandler observer;
    bool wasOpen = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wasOpen = openSessions.erase(session) > 0;
        observer = connectionHandler;
    }
    changed.notify_all();
    if (wasOpen && observer) {
        observer(*session, false);
    }
}

void TestSensor::Impl::Accept() {
    acceptor->async_accept([this](boost::system::error_code error, tcp::socket socket) {
        if (error) {
            return;
        }
        std::make_shared<Session>(std::move(socket), this)->Start();
        Accept();
    });
}

TestSensor::TestSensor(const std::string& address) : TestSensor(address, Options{}) {}

TestSensor::TestSensor(const std::string& address, Options options)
    : impl(std::make_unique<Impl>(address, options)) {
    impl->handler = [this](Connection& connection, const std::string& text) {
        AnswerByDefault(connection, text);
    };
    impl->Start();
}

TestSensor::~TestSensor() {
    impl->Stop();
}

void TestSensor::Stop() {
    impl->Stop();
}

void TestSensor::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->handler = std::move(handler);
}

void TestSensor::SetConnectionHandler(ConnectionHandler handler) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->connectionHandler = std::move(handler);
}

void TestSensor::SetResource(const std::string& name, json data) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->resources[name] = std::move(data);
}

json TestSensor::GetResource(const std::string& name) const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    const auto found = impl->resources.find(name);
    return found == impl->resources.end() ? json() : found->second;
}

void TestSensor::SetError(const std::string& name, const std::string& code, json details) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->errors[name] = json::array({code, std::move(details)});
}

void TestSensor::ClearError(const std::string& name) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->errors.erase(name);
}

void TestSensor::SetNextSessionId(uint32_t id) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->nextSessionId = id;
}

void TestSensor::AnswerByDefault(Connection& connection, const std::string& text) {
    const json request = json::parse(text, nullptr, false);
    if (!request.is_object()) {
        return;
    }
    const std::string type = request.value("msgType", "");
    std::lock_guard<std::mutex> lock(impl->mutex);
    if (type == "CONNECT") {
        json reply = {{"msgID", request.value("msgID", json())},
                      {"msgType", "ACK"},
                      {"sessionID", impl->nextSessionId++}};
        connection.Send(reply.dump());
        return;
    }
    if (type == "DISCONNECT") {
        connection.Send(Ack(request));
        return;
    }
    const json data = request.value("msgData", json::array());
    if (!data.is_array() || data.empty() || !data[0].is_string()) {
        connection.Send(Err(request, "InvalidArgument"));
        return;
    }
    const std::string name = data[0];
    if (const auto error = impl->errors.find(name); error != impl->errors.end()) {
        connection.Send(Err(request, error->second[0], error->second[1]));
        return;
    }
    if (type == "GET") {
        const auto found = impl->resources.find(name);
        connection.Send(found == impl->resources.end() ? Err(request, "InvalidArgument")
                                                       : Ack(request, found->second));
    } else if (type == "SET") {
        impl->resources[name] = data.size() > 1 ? data[1] : json();
        connection.Send(Ack(request));
    }
}

std::vector<std::string> TestSensor::Received() const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->received;
}

std::vector<std::string> TestSensor::Handshakes() const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->handshakes;
}

bool TestSensor::WaitForReceived(std::size_t count, std::chrono::milliseconds limit) const {
    return impl->WaitUntil(limit, [this, count] { return impl->received.size() >= count; });
}

std::size_t TestSensor::OpenConnections() const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->openSessions.size();
}

bool TestSensor::WaitForOpenConnections(std::size_t count, std::chrono::milliseconds limit) const {
    return impl->WaitUntil(limit, [this, count] { return impl->openSessions.size() == count; });
}

void TestSensor::Broadcast(const std::string& text) {
    for (const auto& session : impl->OpenSessions()) {
        static_cast<Connection&>(*session).Send(text);
    }
}

void TestSensor::CloseAll() {
    for (const auto& session : impl->OpenSessions()) {
        static_cast<Connection&>(*session).Close();
    }
}

bool TestSensor::Flood(const std::string& text, std::size_t count,
                       std::chrono::milliseconds limit) {
    const auto sessions = impl->OpenSessions();
    auto pending = std::make_shared<std::size_t>(sessions.size());
    for (const auto& session : sessions) {
        // The pong comes on the sensor's thread; the count is guarded by the sensor's mutex.
        session->Flood(text, count, [this, pending] {
            {
                std::lock_guard<std::mutex> lock(impl->mutex);
                --*pending;
            }
            impl->changed.notify_all();
        });
    }
    return impl->WaitUntil(limit, [pending] { return *pending == 0; });
}

void TestSensor::SendDatagram(uint16_t port, const std::vector<uint8_t>& datagram) {
    asio::io_context context;
    const auto address = asio::ip::make_address(impl->address);
    asio::ip::udp::socket socket(context, asio::ip::udp::endpoint(address, 0));
    socket.send_to(asio::buffer(datagram), asio::ip::udp::endpoint(address, port));
}

std::string TestSensor::NestedAck(const json& request, std::size_t levels) {
    const std::string name = Ack(request, 0);  // the reply with a placeholder for the data
    const std::size_t at = name.rfind(",0]");
    return name.substr(0, at + 1) + std::string(levels, '[') + std::string(levels, ']') +
           name.substr(at + 2);
}

std::string TestSensor::Ack(const json& request, const json& data) {
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

std::string TestSensor::Err(const json& request, const std::string& code, const json& details) {
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

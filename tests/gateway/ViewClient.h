// A browser's side of the live view, without the browser: its WebSocket at /ws, read message by
// message.
#pragma once

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <string>

namespace Varkon::QuilGateway::Testing {

class ViewClient {
public:
    /// Connects to the view on 127.0.0.1:`port`; a read waits at most 10 s.
    explicit ViewClient(uint16_t port) : socket(io) {
        namespace asio = boost::asio;
        asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
        socket.next_layer().connect(endpoint);
        timeval limit{10, 0};
        setsockopt(socket.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit,
                   sizeof limit);
        socket.handshake("127.0.0.1", "/ws");
    }

    /// The next message of `type` ("hello", "frame") that `wanted` accepts; null when the view
    /// sends none within `limit` (or the connection fails).
    template <typename Wanted>
    nlohmann::json Next(const std::string& type, Wanted wanted,
                        std::chrono::seconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        boost::beast::error_code error;
        while (!error && std::chrono::steady_clock::now() < deadline) {
            boost::beast::flat_buffer buffer;
            socket.read(buffer, error);
            auto message = nlohmann::json::parse(boost::beast::buffers_to_string(buffer.data()),
                                                 nullptr, false);
            if (!error && message.value("type", "") == type && wanted(message)) {
                return message;
            }
        }
        return nullptr;
    }

    void Send(const nlohmann::json& message) { socket.write(boost::asio::buffer(message.dump())); }

private:
    boost::asio::io_context io;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> socket;
};

/// The names of the sensors a hello lists, in its order.
inline std::vector<std::string> SensorNames(const nlohmann::json& hello) {
    std::vector<std::string> names;
    for (const auto& sensor : hello.at("sensors")) {
        names.push_back(sensor.at("name"));
    }
    return names;
}

}  // namespace Varkon::QuilGateway::Testing

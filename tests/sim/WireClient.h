// A bare WebSocket client of the sensor's message protocol, for requests that the library does
// not make and for the sensor's unsolicited "UPDATE" messages.
#pragma once

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <deque>
#include <optional>
#include <string>

namespace Varkon::QUILApi::Testing {

class WireClient {
public:
    explicit WireClient(const std::string& address) : ws(context) {
        boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address(address), 80);
        boost::beast::get_lowest_layer(ws).expires_after(std::chrono::seconds(5));
        boost::beast::get_lowest_layer(ws).connect(endpoint);
        ws.set_option(boost::beast::websocket::stream_base::decorator(
            [](boost::beast::websocket::request_type& request) {
                request.set(boost::beast::http::field::sec_websocket_protocol, "VWS");
            }));
        ws.handshake(address, "/websocket");
        sessionId = Request({{"msgType", "CONNECT"}})["sessionID"];
    }

    /// Sends a request (msgID and sessionID are added) and returns its reply; UPDATE messages
    /// that arrive meanwhile are kept for NextUpdate.
    nlohmann::json Request(nlohmann::json request) {
        request["msgID"] = ++msgId;
        request["sessionID"] = sessionId;
        ws.text(true);
        ws.write(boost::asio::buffer(request.dump()));
        for (;;) {
            const auto message = Read(std::chrono::seconds(5));
            if (!message) {
                return nullptr;
            }
            if ((*message)["msgType"] == "UPDATE") {
                updates.push_back(*message);
            } else if ((*message)["msgID"] == msgId) {
                return *message;
            }
        }
    }
    /// Sends a request (msgID and sessionID are added) without waiting for its reply.
    void Post(nlohmann::json request) {
        request["msgID"] = ++msgId;
        request["sessionID"] = sessionId;
        ws.text(true);
        ws.write(boost::asio::buffer(request.dump()));
    }
    nlohmann::json Get(const std::string& name, const nlohmann::json& parameter = nullptr) {
        return Request(Envelope("GET", name, parameter));
    }
    nlohmann::json Set(const std::string& name, const nlohmann::json& value = nullptr) {
        return Request(Envelope("SET", name, value));
    }

    /// The next UPDATE message, waiting at most `limit`.
    std::optional<nlohmann::json> NextUpdate(std::chrono::milliseconds limit) {
        if (updates.empty()) {
            if (auto message = Read(limit)) {
                updates.push_back(*message);
            }
        }
        if (updates.empty()) {
            return std::nullopt;
        }
        auto update = updates.front();
        updates.pop_front();
        return update;
    }

    static nlohmann::json Envelope(const std::string& type, const std::string& name,
                                   const nlohmann::json& argument) {
        nlohmann::json data = nlohmann::json::array({name});
        if (!argument.is_null()) {
            data.push_back(argument);
        }
        return {{"msgType", type}, {"msgData", data}};
    }

    uint32_t sessionId = 0;

private:
    // After a time-out the connection is closed and the client no longer usable.
    std::optional<nlohmann::json> Read(std::chrono::steady_clock::duration limit) {
        boost::beast::get_lowest_layer(ws).expires_after(limit);
        boost::beast::flat_buffer buffer;
        boost::system::error_code error;
        ws.async_read(buffer, [&error](boost::system::error_code e, std::size_t) { error = e; });
        context.restart();
        context.run();
        boost::beast::get_lowest_layer(ws).expires_never();
        if (error) {
            return std::nullopt;
        }
        return nlohmann::json::parse(boost::beast::buffers_to_string(buffer.data()));
    }

    boost::asio::io_context context;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws;
    uint32_t msgId = 0;
    std::deque<nlohmann::json> updates;
};

}  // namespace Varkon::QUILApi::Testing

#include "support/TestSensor.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <utility>

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

TestSensor::TestSensor(const std::string& address, Options options)
    : handler([this](Connection& connection, const std::string& text) {
          AnswerByDefault(connection, text);
      }),
      server(address, options) {
    server.SetHandshakeHandler([this](const std::string& request) { Record(handshakes, request); });
    server.SetHandler([this](Connection& connection, const std::string& text) {
        Record(received, text);
        Handler current;
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = handler;
        }
        current(connection, text);
    });
}

void TestSensor::Record(std::vector<std::string>& log, const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(text);
    }
    changed.notify_all();
}

void TestSensor::SetHandler(Handler replacement) {
    std::lock_guard<std::mutex> lock(mutex);
    handler = std::move(replacement);
}

void TestSensor::SetResource(const std::string& name, json data) {
    std::lock_guard<std::mutex> lock(mutex);
    resources[name] = std::move(data);
}

json TestSensor::GetResource(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = resources.find(name);
    return found == resources.end() ? json() : found->second;
}

void TestSensor::SetError(const std::string& name, const std::string& code, json details) {
    std::lock_guard<std::mutex> lock(mutex);
    errors[name] = json::array({code, std::move(details)});
}

void TestSensor::ClearError(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    errors.erase(name);
}

void TestSensor::SetNextSessionId(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex);
    nextSessionId = id;
}

void TestSensor::AnswerByDefault(Connection& connection, const std::string& text) {
    const json request = json::parse(text, nullptr, false);
    if (!request.is_object()) {
        return;
    }
    const std::string type = request.value("msgType", "");
    std::lock_guard<std::mutex> lock(mutex);
    if (type == "CONNECT") {
        json reply = {{"msgID", request.value("msgID", json())},
                      {"msgType", "ACK"},
                      {"sessionID", nextSessionId++}};
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
    if (const auto error = errors.find(name); error != errors.end()) {
        connection.Send(Err(request, error->second[0], error->second[1]));
        return;
    }
    if (type == "GET") {
        const auto found = resources.find(name);
        connection.Send(found == resources.end() ? Err(request, "InvalidArgument")
                                                 : Ack(request, found->second));
    } else if (type == "SET") {
        resources[name] = data.size() > 1 ? data[1] : json();
        connection.Send(Ack(request));
    }
}

std::vector<std::string> TestSensor::Received() const {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

std::vector<std::string> TestSensor::Handshakes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return handshakes;
}

bool TestSensor::WaitForReceived(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [this, count] { return received.size() >= count; });
}

void TestSensor::SendDatagram(uint16_t port, const std::vector<uint8_t>& datagram) {
    boost::asio::io_context context;
    const auto address = boost::asio::ip::make_address(server.Address());
    boost::asio::ip::udp::socket socket(context, boost::asio::ip::udp::endpoint(address, 0));
    socket.send_to(boost::asio::buffer(datagram), boost::asio::ip::udp::endpoint(address, port));
}

std::string TestSensor::NestedAck(const json& request, std::size_t levels) {
    const std::string name = Ack(request, 0);  // the reply with a placeholder for the data
    const std::size_t at = name.rfind(",0]");
    return name.substr(0, at + 1) + std::string(levels, '[') + std::string(levels, ']') +
           name.substr(at + 2);
}

}  // namespace Varkon::QUILApi::Sim

#pragma once

#include "TestingSensorServer.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Sim {

/// A scripted stand-in for the sensor on port 80 of a loopback address, for tests of the client.
///
/// By default it answers the message protocol from a table of resources: CONNECT gets a session
/// id, GET the stored data (or "InvalidArgument" for an unknown resource), SET stores its value,
/// and scripted errors replace the answer for a resource. Tests that need other behaviour install
/// their own handler. Every handshake request and every received text is recorded verbatim.
///
/// It can also play a hostile peer: replies nested deeper than any parser should follow
/// (NestedAck), floods of messages nobody asked for (Flood) and arbitrary datagrams on the
/// stream's port (SendDatagram).
///
/// Handlers run on the server's thread, until Stop or the destructor ends it.
class TestSensor {
public:
    using Options = TestingSensorServer::Options;
    using Handler = SensorServer::Handler;
    using ConnectionHandler = SensorServer::ConnectionHandler;

    explicit TestSensor(const std::string& address, Options options = Options());
    /// Stops the server first: its handlers use this object.
    ~TestSensor() { server.Stop(); }
    void Stop() { server.Stop(); }

    TestSensor(const TestSensor&) = delete;
    TestSensor& operator=(const TestSensor&) = delete;

    /// Replaces the default behaviour for every later message.
    void SetHandler(Handler handler);
    /// Installs the observer of connections opening and ending.
    void SetConnectionHandler(ConnectionHandler handler) {
        server.SetConnectionHandler(std::move(handler));
    }

    // --- The default behaviour ---------------------------------------------------------
    /// Data that GET of `name` returns (element 1 of "msgData").
    void SetResource(const std::string& name, nlohmann::json data);
    nlohmann::json GetResource(const std::string& name) const;
    /// Answers GET and SET of `name` with an ERR carrying `code` and, unless null, `details`.
    void SetError(const std::string& name, const std::string& code,
                  nlohmann::json details = nullptr);
    void ClearError(const std::string& name);
    /// The session id that the next CONNECT receives; each CONNECT increments it.
    void SetNextSessionId(uint32_t id);
    /// Answers `request` as the default behaviour does.
    void AnswerByDefault(Connection& connection, const std::string& text);

    // --- Traffic ---------------------------------------------------------------------
    std::vector<std::string> Received() const;
    std::vector<std::string> Handshakes() const;
    /// Waits until at least `count` texts have been received; false at the deadline.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds limit) const;
    std::size_t OpenConnections() const { return server.OpenConnections(); }
    bool WaitForOpenConnections(std::size_t count, std::chrono::milliseconds limit) const {
        return server.WaitForOpenConnections(count, limit);
    }
    void Broadcast(const std::string& text) { server.Broadcast(text); }
    void CloseAll() { server.CloseAll(); }

    // --- Replies ---------------------------------------------------------------------
    static std::string Ack(const nlohmann::json& request, const nlohmann::json& data = nullptr) {
        return SensorServer::Ack(request, data);
    }
    static std::string Err(const nlohmann::json& request, const std::string& code,
                           const nlohmann::json& details = nullptr) {
        return SensorServer::Err(request, code, details);
    }

    // --- Hostile peer ------------------------------------------------------------------
    /// An ACK of `request` whose data are `levels` empty arrays nested in one another, written
    /// as text (the JSON library would recurse once per level to write it).
    static std::string NestedAck(const nlohmann::json& request, std::size_t levels);
    /// See TestingSensorServer::Flood.
    bool Flood(const std::string& text, std::size_t count, std::chrono::milliseconds limit) {
        return server.Flood(text, count, limit);
    }
    /// Sends one datagram from the sensor's address to `port` of the same address.
    void SendDatagram(uint16_t port, const std::vector<uint8_t>& datagram);

private:
    void Record(std::vector<std::string>& log, const std::string& text);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Handler handler;
    std::vector<std::string> received;
    std::vector<std::string> handshakes;
    std::map<std::string, nlohmann::json> resources;
    std::map<std::string, nlohmann::json> errors;  // resource -> [code, details]
    uint32_t nextSessionId = 17;
    TestingSensorServer server;  // last: it is started once everything it calls is ready
};

}  // namespace Varkon::QUILApi::Sim

#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Sim {

/// One client connection of the test sensor.
class Connection {
public:
    virtual ~Connection() = default;
    /// Sends `text` as one text message in a single frame, after `delay`.
    virtual void Send(std::string text,
                      std::chrono::milliseconds delay = std::chrono::milliseconds(0)) = 0;
    /// Closes the WebSocket normally.
    virtual void Close() = 0;
    /// Drops the TCP connection without a WebSocket close.
    virtual void Drop() = 0;
    /// The client's address and port, as "address:port"; empty when unknown.
    virtual std::string Peer() const { return {}; }
};

/// A WebSocket server on port 80 of a loopback address that stands in for the sensor.
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
/// Handlers run on the sensor's own thread, until Stop or the destructor ends it.
class TestSensor {
public:
    struct Options {
        bool deflate = false;         // accept "permessage-deflate"
        bool answerHandshake = true;  // false: accept TCP but never answer the handshake
    };

    using Handler = std::function<void(Connection& connection, const std::string& text)>;
    /// Told once when a connection's WebSocket opens (`open` true) and once when it ends.
    using ConnectionHandler = std::function<void(Connection& connection, bool open)>;

    explicit TestSensor(const std::string& address);
    TestSensor(const std::string& address, Options options);
    ~TestSensor();
    /// Ends the sensor's thread and closes every connection; no handler runs afterwards. The
    /// destructor does the same; an owner whose handlers use the owner's other members stops the
    /// sensor before taking those down.
    void Stop();

    TestSensor(const TestSensor&) = delete;
    TestSensor& operator=(const TestSensor&) = delete;

    /// Replaces the default behaviour for every later message.
    void SetHandler(Handler handler);
    /// Installs the observer of connections opening and ending.
    void SetConnectionHandler(ConnectionHandler handler);

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
    /// Number of connections whose WebSocket is open.
    std::size_t OpenConnections() const;
    /// Waits until exactly `count` connections are open; false at the deadline.
    bool WaitForOpenConnections(std::size_t count, std::chrono::milliseconds limit) const;
    /// Sends `text` to every open connection.
    void Broadcast(const std::string& text);
    /// Closes every connection normally.
    void CloseAll();

    // --- Replies ---------------------------------------------------------------------
    static std::string Ack(const nlohmann::json& request, const nlohmann::json& data = nullptr);
    static std::string Err(const nlohmann::json& request, const std::string& code,
                           const nlohmann::json& details = nullptr);

    // --- Hostile peer ------------------------------------------------------------------
    /// An ACK of `request` whose data are `levels` empty arrays nested in one another, written
    /// as text (the JSON library would recurse once per level to write it).
    static std::string NestedAck(const nlohmann::json& request, std::size_t levels);
    /// Sends `text` `count` times to every open connection, back to back and without queueing
    /// copies, then pings. Returns once every connection has answered the ping, i.e. has read
    /// every copy; false at the deadline.
    bool Flood(const std::string& text, std::size_t count, std::chrono::milliseconds limit);
    /// Sends one datagram from the sensor's address to `port` of the same address.
    void SendDatagram(uint16_t port, const std::vector<uint8_t>& datagram);

    class Impl;  // the server itself, private to the implementation

private:
    std::unique_ptr<Impl> impl;
};

}  // namespace Varkon::QUILApi::Sim

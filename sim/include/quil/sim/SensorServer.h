#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Varkon::QUILApi::Sim {

/// One client connection of a SensorServer.
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

/// A WebSocket server on port 80 of an address that speaks the sensor's message protocol: it
/// accepts connections, frames every message as one text frame, and hands each received text
/// with its connection to the handler. The virtual sensor and the scripted test sensor both
/// answer through it.
///
/// Handlers run on the server's own thread, until Stop or the destructor ends it; the server
/// starts listening in its constructor.
class SensorServer {
public:
    /// Told every received text message with its connection.
    using Handler = std::function<void(Connection& connection, const std::string& text)>;
    /// Told once when a connection's WebSocket opens (`open` true) and once when it ends.
    using ConnectionHandler = std::function<void(Connection& connection, bool open)>;

    /// @throws boost's system_error when `port` (80 unless given) of the address cannot be
    ///         bound.
    explicit SensorServer(const std::string& address, uint16_t port = 80);
    virtual ~SensorServer();
    /// Ends the server's thread and closes every connection; no handler runs afterwards. The
    /// destructor does the same; an owner whose handlers use the owner's other members stops the
    /// server before taking those down.
    void Stop();

    SensorServer(const SensorServer&) = delete;
    SensorServer& operator=(const SensorServer&) = delete;

    /// Handles every later message; without a handler messages are read and dropped.
    void SetHandler(Handler handler);
    /// Tells `handler` of every later connection that opens or ends.
    void SetConnectionHandler(ConnectionHandler handler);

    /// The address the server listens on (port 80).
    const std::string& Address() const;
    /// Number of connections whose WebSocket is open.
    std::size_t OpenConnections() const;
    /// Waits until exactly `count` connections are open; false at the deadline.
    bool WaitForOpenConnections(std::size_t count, std::chrono::milliseconds limit) const;
    /// Sends `text` to every open connection.
    void Broadcast(const std::string& text);
    /// Closes every connection normally.
    void CloseAll();

    // --- Replies ---------------------------------------------------------------------
    /// The ACK of `request`, with `data` after the resource name unless it is null.
    static std::string Ack(const nlohmann::json& request, const nlohmann::json& data = nullptr);
    /// The ERR of `request` with `code`, and `details` unless null.
    static std::string Err(const nlohmann::json& request, const std::string& code,
                           const nlohmann::json& details = nullptr);

    class Impl;  // the server itself, private to the implementation

protected:
    /// A server made by the implementation with other behaviour; it listens already.
    explicit SensorServer(std::unique_ptr<Impl> impl);
    /// The server itself.
    Impl& Implementation() const { return *impl; }

private:
    std::unique_ptr<Impl> impl;
};

}  // namespace Varkon::QUILApi::Sim

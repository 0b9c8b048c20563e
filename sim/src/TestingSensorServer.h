#pragma once

#include <quil/sim/SensorServer.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace Varkon::QUILApi::Sim {

/// The sensor's server with the switches that only tests of clients need: it can hold back the
/// handshake or accept "permessage-deflate" (Options), tell every handshake request, and flood
/// connections (Flood).
class TestingSensorServer : public SensorServer {
public:
    /// What the server does for tests of clients.
    struct Options {
        bool deflate = false;         // accept "permessage-deflate"
        bool answerHandshake = true;  // false: accept TCP but never answer the handshake
    };
    /// Told every handshake request, verbatim.
    using HandshakeHandler = std::function<void(const std::string& request)>;

    /// @throws boost's system_error when port 80 of the address cannot be bound.
    TestingSensorServer(const std::string& address, Options options);

    /// Tells `handler` every later handshake request.
    void SetHandshakeHandler(HandshakeHandler handler);
    /// Sends `text` `count` times to every open connection, back to back and without queueing
    /// copies, then pings. Returns once every connection has answered the ping, i.e. has read
    /// every copy; false at the deadline.
    bool Flood(const std::string& text, std::size_t count, std::chrono::milliseconds limit);
};

}  // namespace Varkon::QUILApi::Sim

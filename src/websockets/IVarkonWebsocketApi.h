#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <mutex>

namespace Varkon::QUILApi::WebSockets {

/// A blocking request/reply service over the sensor connection.
///
/// Requests from several threads take turns: each holds the channel's one request lock. A caller
/// whose requests belong together (read, modify, write; a sequence of numbered blocks) holds it
/// across all of them with a Conversation, so that no other thread's request comes between.
class IVarkonWebsocketApi {
public:
    /// Holds the channel's request lock from construction to destruction; the holder's own
    /// requests take it again.
    class Conversation {
    public:
        explicit Conversation(IVarkonWebsocketApi& channel) : lock(channel.requestMutex) {}

    private:
        std::unique_lock<std::recursive_mutex> lock;
    };

    virtual ~IVarkonWebsocketApi() = default;

    /// Opens the connection if there is none; blocks until the handshake has finished.
    virtual void Connect() = 0;
    /// Closes the connection if it is open and forgets it.
    virtual void Close() = 0;
    /// Sends `request` and returns the first received message whose "msgID" equals the
    /// request's, or a null value after `timeoutMs` or at once without a connection.
    virtual std::unique_ptr<nlohmann::json> SendAndWait(const nlohmann::json& request,
                                                        unsigned timeoutMs) = 0;
    /// Whether the connection ended other than by Close: the sensor closed or dropped it, or it
    /// broke. Such a connection is what ConnectWithin replaces.
    virtual bool IsLost() { return false; }
    /// As Connect, with the connection and its handshake bounded by `limit`.
    virtual void ConnectWithin(std::chrono::milliseconds /*limit*/) { Connect(); }

protected:
    std::recursive_mutex requestMutex;  // one caller's requests at a time
};

/// The "msgID" of a message, or null for a message that has none.
inline const nlohmann::json& MessageId(const nlohmann::json& message) {
    static const nlohmann::json none;
    if (!message.is_object()) {
        return none;
    }
    const auto found = message.find("msgID");
    return found == message.end() ? none : *found;
}

}  // namespace Varkon::QUILApi::WebSockets

#pragma once

#include "websockets/IVarkonWebsocketApi.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace Varkon::QUILApi::WebSockets {

/// The sensor's JSON request/reply protocol: builds and numbers requests, carries the session
/// identifier, waits for the matching reply and turns error replies into exceptions.
///
/// When asked to, it opens a new connection and session before a GET or SET on a lost
/// connection, trying again with a growing pause (kFirstRetry, doubled up to kLastRetry) until
/// the request's limit; a GET whose connection was lost on the way is asked again on the new
/// one, a SET is not, since it may have been carried out.
///
/// Threads: any; each operation holds the channel's request lock (IVarkonWebsocketApi), and a
/// Conversation holds it across several. The two setters take effect from the next request.
class Protocol {
public:
    explicit Protocol(std::shared_ptr<IVarkonWebsocketApi> channel);
    virtual ~Protocol();

    using Conversation = IVarkonWebsocketApi::Conversation;
    /// No other thread's request comes between the holder's requests while it lives.
    Conversation Converse() { return Conversation(*channel); }

    /// Opens the channel and the session ("CONNECT").
    void Connect();
    /// Ends the session ("DISCONNECT") and closes the channel. Never throws.
    void Disconnect();
    /// Reads the resource `name`; `param` is null or an object of request parameters.
    /// Returns the resource's data, never an empty pointer.
    std::unique_ptr<nlohmann::json> GetResource(const std::string& name,
                                                const nlohmann::json& param);
    /// Writes `value` (null for a write without arguments) to the resource `name`.
    void SetResource(const std::string& name, const nlohmann::json& value);

    /// The limit of each GET and SET (default 10 s).
    void SetResourceLimit(std::chrono::milliseconds limit);
    std::chrono::milliseconds ResourceLimit() const {
        return std::chrono::milliseconds(resourceLimitMs.load());
    }
    /// Whether a GET or SET on a lost connection first opens a new one (default off).
    void SetAutoReconnect(bool enabled);

    static constexpr std::chrono::milliseconds kFirstRetry{50};
    static constexpr std::chrono::milliseconds kLastRetry{1000};

private:
    using Clock = std::chrono::steady_clock;

    /// Sends a GET or SET and returns the matching reply; `request` is what was sent last.
    std::unique_ptr<nlohmann::json> Exchange(const char* type, const std::string& name,
                                             const nlohmann::json& argument, bool repeatable,
                                             nlohmann::json& request);
    /// Opens a new connection and session when automatic reconnection is on and the connection
    /// is lost (or a reconnection failed before), within `deadline`; true when it did.
    /// @throws what the last attempt threw, when none succeeds in time.
    bool ReconnectIfLost(Clock::time_point deadline);
    void OpenSession(unsigned timeoutMs);
    nlohmann::json BuildRequest(const char* type);
    nlohmann::json BuildRequest(const char* type, const std::string& name,
                                const nlohmann::json& argument);
    std::unique_ptr<nlohmann::json> SendRequest(const nlohmann::json& request, unsigned timeoutMs);
    /// `reply`, when it answers `request`.
    /// @throws std::runtime_error "No matching response found to request with sessionID: ..."
    std::unique_ptr<nlohmann::json> Matching(const nlohmann::json& request,
                                             std::unique_ptr<nlohmann::json> reply);
    [[noreturn]] void HandleErrorResponse(const nlohmann::json& request,
                                          const nlohmann::json& reply);

    std::shared_ptr<IVarkonWebsocketApi> channel;
    uint32_t nextMsgId = 1;
    uint32_t sessionId = 0;
    std::atomic<unsigned> resourceLimitMs;
    std::atomic<bool> autoReconnect{false};
    bool reconnectPending = false;  // lost, and no new connection opened since
};

}  // namespace Varkon::QUILApi::WebSockets

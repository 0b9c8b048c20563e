#pragma once

#include "websockets/IVarkonWebsocketApi.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace Varkon::QUILApi::WebSockets {

/// The sensor's JSON request/reply protocol: builds and numbers requests, carries the session
/// identifier, waits for the matching reply and turns error replies into exceptions.
class Protocol {
public:
    explicit Protocol(std::shared_ptr<IVarkonWebsocketApi> channel);
    virtual ~Protocol();

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

private:
    nlohmann::json BuildRequest(const char* type);
    nlohmann::json BuildRequest(const char* type, const std::string& name,
                                const nlohmann::json& argument);
    std::unique_ptr<nlohmann::json> SendRequest(const nlohmann::json& request, unsigned timeoutMs);
    [[noreturn]] void HandleErrorResponse(const nlohmann::json& request,
                                          const nlohmann::json& reply);

    std::shared_ptr<IVarkonWebsocketApi> channel;
    uint32_t nextMsgId = 1;
    uint32_t sessionId = 0;
};

}  // namespace Varkon::QUILApi::WebSockets

#include "websockets/Protocol.h"

#include "websockets/CheckedNumbers.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <thread>

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;

namespace {

// Reply time limits in milliseconds.
constexpr unsigned kSessionLimit = 500;     // CONNECT, DISCONNECT
constexpr unsigned kResourceLimit = 10000;  // GET, SET

// Element `index` of "msgData" as a string, or "" when the array is shorter.
std::string TextAt(const json& data, std::size_t index) {
    return data.size() > index ? data[index].get<std::string>() : std::string();
}

// Milliseconds from now until `deadline`, none once it has passed.
unsigned Remaining(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<unsigned>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

Protocol::Protocol(std::shared_ptr<IVarkonWebsocketApi> channel)
    : channel(std::move(channel)), resourceLimitMs(kResourceLimit) {}

Protocol::~Protocol() = default;

json Protocol::BuildRequest(const char* type) {
    json request = json::object();
    request["msgType"] = type;
    request["msgID"] = nextMsgId++;
    request["sessionID"] = sessionId;
    return request;
}

json Protocol::BuildRequest(const char* type, const std::string& name, const json& argument) {
    json request = BuildRequest(type);
    json data = json::array();
    data.push_back(name);
    if (!argument.is_null()) {
        data.push_back(argument);
    }
    request["msgData"] = std::move(data);
    return request;
}

std::unique_ptr<json> Protocol::SendRequest(const json& request, unsigned timeoutMs) {
    return Matching(request, channel->SendAndWait(request, timeoutMs));
}

std::unique_ptr<json> Protocol::Matching(const json& request, std::unique_ptr<json> reply) {
    if (MessageId(*reply) == request.at("msgID")) {
        return reply;
    }
    throw std::runtime_error(
        "No matching response found to request with sessionID: " + request.at("sessionID").dump() +
        " msgID: " + request.at("msgID").dump());
}

void Protocol::Connect() {
    const Conversation conversation(*channel);
    channel->Connect();
    OpenSession(kSessionLimit);
}

void Protocol::OpenSession(unsigned timeoutMs) {
    const auto reply = SendRequest(BuildRequest("CONNECT"), timeoutMs);
    sessionId = GetChecked<uint32_t>(reply->at("sessionID"), "sessionID");
    reconnectPending = false;
}

void Protocol::SetResourceLimit(std::chrono::milliseconds limit) {
    resourceLimitMs = static_cast<unsigned>(std::clamp<std::chrono::milliseconds::rep>(
        limit.count(), 0, std::numeric_limits<unsigned>::max()));
}

void Protocol::SetAutoReconnect(bool enabled) {
    autoReconnect = enabled;
}

bool Protocol::ReconnectIfLost(Clock::time_point deadline) {
    if (!autoReconnect || !(reconnectPending || channel->IsLost())) {
        return false;
    }
    reconnectPending = true;
    auto pause = kFirstRetry;
    for (;;) {
        try {
            channel->ConnectWithin(std::chrono::milliseconds(Remaining(deadline)));
            OpenSession(std::min(kSessionLimit, Remaining(deadline)));
            return true;
        } catch (const std::exception&) {
            if (Clock::now() + pause >= deadline) {
                throw;  // the last attempt's failure
            }
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, kLastRetry);
    }
}

std::unique_ptr<json> Protocol::Exchange(const char* type, const std::string& name,
                                         const json& argument, bool repeatable, json& request) {
    const unsigned limit = resourceLimitMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
    // Without a reconnection the request has its whole limit, as it starts at once.
    const bool reconnected = ReconnectIfLost(deadline);
    request = BuildRequest(type, name, argument);
    auto reply = channel->SendAndWait(request, reconnected ? Remaining(deadline) : limit);
    if (repeatable && reply->is_null() && autoReconnect && channel->IsLost()) {
        ReconnectIfLost(deadline);
        request = BuildRequest(type, name, argument);
        reply = channel->SendAndWait(request, Remaining(deadline));
    }
    return Matching(request, std::move(reply));
}

void Protocol::Disconnect() {
    const Conversation conversation(*channel);
    try {
        SendRequest(BuildRequest("DISCONNECT"), kSessionLimit);
    } catch (const std::exception&) {
        // The session ends whether or not the sensor saw it.
    }
    try {
        channel->Close();
    } catch (const std::exception&) {
    }
}

std::unique_ptr<json> Protocol::GetResource(const std::string& name, const json& param) {
    const Conversation conversation(*channel);
    json request;
    const auto reply = Exchange("GET", name, param, true, request);
    const auto type = reply->at("msgType").get<std::string>();
    if (type == "ACK") {
        // Taken out of the reply, not copied: a copy recurses once per level of nesting.
        json& data = reply->at("msgData");
        const std::string resource = TextAt(data, 0);
        if (data.size() >= 2 && resource == name) {
            return std::make_unique<json>(std::move(data[1]));
        }
    } else if (type == "ERR") {
        HandleErrorResponse(request, *reply);
    }
    throw std::domain_error("GetResource failed <" + name +
                            "> MessageID: " + request.at("msgID").dump());
}

void Protocol::SetResource(const std::string& name, const json& value) {
    const Conversation conversation(*channel);
    json request;
    const auto reply = Exchange("SET", name, value, false, request);
    const auto type = reply->at("msgType").get<std::string>();
    if (type == "ACK") {
        return;
    }
    if (type == "ERR") {
        HandleErrorResponse(request, *reply);
    }
    throw std::domain_error("Unknwon message received: " + type);
}

void Protocol::HandleErrorResponse(const json& request, const json& reply) {
    const json& data = reply.at("msgData");
    const std::string resource = TextAt(data, 0);
    const std::string code = TextAt(data, 1);
    const std::string prefix = request.at("msgType").get<std::string>() + " returned an error: ";

    if (code == "InvalidArgument") {
        throw std::invalid_argument(prefix + "Invalid parameters passed for resource <" + resource +
                                    ">");
    }
    if (code == "Forbidden") {
        std::string hint;
        try {
            if (data.size() >= 3) {
                hint = ", you need role <" + data[2].at("NeededRole").get<std::string>() + ">.";
            }
        } catch (const std::exception&) {
        }
        throw std::domain_error(prefix + "Your role is not allowed to access resource <" +
                                resource + ">" + hint);
    }
    if (code == "PasswordWrong") {
        // Name the role the caller asked for, not what the reply says.
        std::string role = resource;
        try {
            if (data.size() >= 2) {
                role = request.at("msgData").at(1).at("role").get<std::string>();
            }
        } catch (const std::exception&) {
        }
        throw std::domain_error(prefix + "You password was wrong for role <" + role + ">");
    }
    if (code == "RoleTaken") {
        std::string holder;
        try {
            if (data.size() >= 3) {
                holder = data[2].at("takenBy").get<std::string>();
            }
        } catch (const std::exception&) {
        }
        throw std::domain_error(prefix + "Your role is already used by <" + holder + ">");
    }
    throw std::domain_error(prefix + code);
}

}  // namespace Varkon::QUILApi::WebSockets

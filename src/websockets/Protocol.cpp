#include "websockets/Protocol.h"

#include "websockets/CheckedNumbers.h"

#include <stdexcept>

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

}  // namespace

Protocol::Protocol(std::shared_ptr<IVarkonWebsocketApi> channel) : channel(std::move(channel)) {}

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
    auto reply = channel->SendAndWait(request, timeoutMs);
    if (MessageId(*reply) == request.at("msgID")) {
        return reply;
    }
    throw std::runtime_error(
        "No matching response found to request with sessionID: " + request.at("sessionID").dump() +
        " msgID: " + request.at("msgID").dump());
}

void Protocol::Connect() {
    channel->Connect();
    const auto reply = SendRequest(BuildRequest("CONNECT"), kSessionLimit);
    sessionId = GetChecked<uint32_t>(reply->at("sessionID"), "sessionID");
}

void Protocol::Disconnect() {
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
    const json request = BuildRequest("GET", name, param);
    const auto reply = SendRequest(request, kResourceLimit);
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
    const json request = BuildRequest("SET", name, value);
    const auto reply = SendRequest(request, kResourceLimit);
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

#include "Validation.h"

#include "Check.h"
#include "Refusal.h"

#include <boost/asio/ip/address_v4.hpp>

#include <algorithm>

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

namespace {

// The virtual sensor serves this machine only: its stream goes to a loopback address.
bool StreamsToThisMachine(const json& body) {
    if (!body["enableUDPStreaming"].get<bool>()) {
        return true;
    }
    return IsLoopbackIPv4(body["udpDestinationIP"]) &&
           body["udpDestinationPort"].get<uint32_t>() > 0;
}

}  // namespace

json CheckedUpdate(const std::string& resource, const json& current, const json& update,
                   const json& description, bool complete, const std::string& scope) {
    const Catalogue::Setting* setting = Catalogue::FindResource(resource);
    if (!setting || !update.is_object()) {
        throw Refusal::InvalidArgument();
    }
    const auto& members = setting->members;
    json result = current.is_object() ? current : json::object();
    for (const auto& [key, value] : update.items()) {
        const auto rule = std::find_if(members.begin(), members.end(),
                                       [&key = key](const auto& r) { return key == r.member; });
        if (rule == members.end()) {
            throw Refusal::InvalidArgument();
        }
        if (!rule->readOnly) {
            result[key] = value;
        }
    }
    for (const auto& rule : members) {
        if (!result.contains(rule.member) ||
            (complete && !rule.readOnly && !update.contains(rule.member))) {
            throw Refusal::InvalidArgument();
        }
    }
    Catalogue::DescriptionDocument limits(description);
    if (Catalogue::Check(*setting, result, limits, scope) ||
        (resource == "ProcessInterfaces" && !StreamsToThisMachine(result))) {
        throw Refusal::InvalidArgument();
    }
    return result;
}

bool IsLoopbackIPv4(const std::string& text) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(text, error);
    return !error && Catalogue::IsIPv4(text) && address.is_loopback();
}

}  // namespace Varkon::QUILApi::Sim

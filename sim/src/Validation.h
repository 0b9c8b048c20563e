#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace Varkon::QUILApi::Sim {

/// Applies `update` to the stored body `current` of the setting `resource` and returns the
/// result, after checking it by the setting's rules in the catalogue (its members' types, their
/// limits or lists of choices as `description` (see DeviceDescription) states them, and the rules
/// that tie members together) and by this sensor's own: it streams to this machine only.
/// Members that are absent keep their value unless `complete` asks for every writable member;
/// read-only members keep their value whatever is sent.
///
/// `scope` replaces "{id}" in the rules of resources whose limits depend on an id (the
/// parameters of one profile algorithm).
///
/// @throws Refusal "InvalidArgument" for an unknown member, a wrong type or a value out of limits.
nlohmann::json CheckedUpdate(const std::string& resource, const nlohmann::json& current,
                             const nlohmann::json& update, const nlohmann::json& description,
                             bool complete, const std::string& scope = {});

/// Whether `text` is a dotted IPv4 address in 127.0.0.0/8.
bool IsLoopbackIPv4(const std::string& text);

}  // namespace Varkon::QUILApi::Sim

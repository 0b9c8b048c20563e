#pragma once

// The sensor's settings by readable name, as the catalogue lists them: how to read each one,
// what limits, units and choices describe it, and how to write it after checking the value by
// the catalogue's rules.

#include "Check.h"
#include "Settings.h"

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace QuilTool {

using Setting = Varkon::QUILApi::Catalogue::Setting;
using Varkon::QUILApi::Catalogue::FormatNumber;
using Varkon::QUILApi::Catalogue::Given;

/// Every setting, in the order in which `config load` writes them.
const std::vector<Setting>& AllSettings();

/// @throws UsageError naming the known settings when `name` is none of them.
const Setting& FindSetting(const std::string& name);

/// The value that `arguments` make of the setting's value: "key=value" pairs change single
/// members of a record (`current` reads it), a single argument is the whole value (JSON, or
/// text when it is not JSON).
/// @throws InvalidValue for a pair without "=" or naming no member of the record.
nlohmann::json ApplyArguments(const std::string& name,
                              const std::function<nlohmann::json()>& current,
                              const std::vector<std::string>& arguments);

/// The value that `set` writes for `value`: every choice given by its name (in any case) as its
/// number, checked by the catalogue's rules against the sensor's limits, types and choices,
/// reading only the descriptions the rules need.
/// @throws InvalidValue "<name>[.<member>] must be <expected>; got "<given>"" (or "... is
///         missing; it must be ..."); UsageError when the setting cannot be written here.
nlohmann::json WritableValue(const Setting& setting, Varkon::QUILApi::Quil& quil,
                             const nlohmann::json& value);

/// Checks `value` of one member of a setting alone, in the words "<label> must be ...".
/// @throws InvalidValue.
void CheckMemberValue(Varkon::QUILApi::Quil& quil, const std::string& setting,
                      const std::string& member, const std::string& label,
                      const nlohmann::json& value);

}  // namespace QuilTool

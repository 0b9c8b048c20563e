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

/// The document `config save` writes: every setting that `config load` can write, by name.
nlohmann::json ReadConfig(Varkon::QUILApi::Quil& quil);

/// @throws UsageError naming the known settings when `name` is none of them.
const Setting& FindSetting(const std::string& name);

/// The value that `arguments` make of the setting's value: "key=value" pairs change single
/// members of a record (`current` reads it), a single argument is the whole value (JSON, or
/// text when it is not JSON).
/// @throws InvalidValue for a pair without "=" or naming no member of the record.
nlohmann::json ApplyArguments(const std::string& name,
                              const std::function<nlohmann::json()>& current,
                              const std::vector<std::string>& arguments);

/// `value` with every choice given by its name in the sensor's description (case-insensitive)
/// replaced by its number; other values, unknown names included, stay for the check to judge.
nlohmann::json ChoicesByNumber(const Setting& setting, Varkon::QUILApi::Quil& quil,
                               nlohmann::json value);

/// Checks `value` for `setting` by the catalogue's rules against the sensor's limits, types and
/// choices before anything is written, reading only the descriptions the rules need (from
/// `description` when given, which keeps what it read for the next check).
/// @throws InvalidValue "<name>[.<member>] must be <expected>; got "<given>"" (or "... is
///         missing; it must be ..."); UsageError when the setting cannot be written here.
void CheckWritable(const Setting& setting, Varkon::QUILApi::Quil& quil, const nlohmann::json& value,
                   Varkon::QUILApi::Catalogue::Description* description = nullptr);

/// Checks `value` of one member of a setting alone, in the words "<label> must be ...".
/// @throws InvalidValue.
void CheckMemberValue(Varkon::QUILApi::Quil& quil, const std::string& setting,
                      const std::string& member, const std::string& label,
                      const nlohmann::json& value);

}  // namespace QuilTool

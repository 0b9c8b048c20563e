#pragma once

// The sensor's settings by readable name: how to read each one, what limits, units and choices
// describe it, and how to write it.

#include "ValueRules.h"

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace QuilTool {

struct Setting {
    std::string name;         // e.g. "exposure-time"
    std::string description;  // one line for --help
    std::function<nlohmann::json(Varkon::QUILApi::Quil&)> read;
    std::function<nlohmann::json(Varkon::QUILApi::Quil&)> describe;  // limits, units, choices
    std::function<void(Varkon::QUILApi::Quil&, const nlohmann::json&)> write;  // empty: read only
    bool inConfig = true;  // part of `config save` / `config load`
    /// What a value to write must be, from the sensor's descriptions (read when called).
    std::function<std::vector<ValueRule>(Varkon::QUILApi::Quil&)> rules;
    /// Checks across members once the rules hold; may be empty.
    /// @throws InvalidValue in the words of CheckValue.
    std::function<void(Varkon::QUILApi::Quil&, const nlohmann::json&)> crossCheck;
    /// For a setting that another command changes (with its own care): that command.
    std::string changedWith;
};

/// Every setting, in the order in which `config load` writes them.
const std::vector<Setting>& AllSettings();

/// The document `config save` writes: every setting that `config load` can write, by name.
nlohmann::json ReadConfig(Varkon::QUILApi::Quil& quil);

/// @throws UsageError naming the known settings when `name` is none of them.
const Setting& FindSetting(const std::string& name);

/// The value that `arguments` make of `current`: "key=value" pairs change single members of a
/// record, a single argument is the whole value (JSON, or text when it is not JSON).
/// @throws InvalidValue for a pair without "=" or naming no member of the record.
nlohmann::json ApplyArguments(const std::string& name, const nlohmann::json& current,
                              const std::vector<std::string>& arguments);

/// Checks `value` for `setting` against the sensor's limits, types and choices before anything is
/// written. @throws InvalidValue in words (see CheckValue); UsageError when the setting cannot be
/// written here.
void CheckWritable(const Setting& setting, Varkon::QUILApi::Quil& quil,
                   const nlohmann::json& value);

}  // namespace QuilTool

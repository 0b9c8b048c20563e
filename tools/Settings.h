#pragma once

// The sensor's settings by readable name: how to read each one, what limits, units and choices
// describe it, and how to write it.

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
};

/// Every setting, in the order in which `config load` writes them.
const std::vector<Setting>& AllSettings();

/// @throws std::invalid_argument naming the known settings when `name` is none of them.
const Setting& FindSetting(const std::string& name);

/// The value that `arguments` make of `current`: "key=value" pairs change single members of a
/// record, a single argument is the whole value (JSON, or text when it is not JSON).
nlohmann::json ApplyArguments(const nlohmann::json& current,
                              const std::vector<std::string>& arguments);

}  // namespace QuilTool

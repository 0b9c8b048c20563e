#pragma once

// The sensor's writable settings, written down once: for each its resource, the client's way to
// read and write it, the tool's name for it, the role a write needs, where the sensor keeps it,
// and the rules each member's values follow. The virtual sensor and the tool both judge a value
// by these rules (see Check.h), so a value is refused alike by either; the library checks
// nothing on the client side and does not use this.

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Varkon::QUILApi::Catalogue {

/// What a member's value is.
enum class Kind {
    Whole,           // a whole number of 32 bits
    Number,          // any number
    Flag,            // true or false
    Text,            // any text
    Address,         // a dotted IPv4 address
    AddressOrEmpty,  // ... or ""
    WholeList,       // distinct whole numbers
    TextList,        // names, none empty
};

/// What one member of a setting's body must be. A limit is a number, a JSON pointer into the
/// sensor's description ("/ExposureTimeLimits/minTime"; "-/FoVLimits/maxXMinus" its negative),
/// or a sum or difference of them ("/ParameterSetupMeta/numStorages - 1"); "{id}" in a pointer
/// stands for the setting's scope (the algorithm whose parameters are written).
struct MemberRule {
    std::string member;  // the key in the setting's body
    Kind kind = Kind::Whole;
    std::string min;        // empty: none
    std::string max;        // empty: none
    std::string choices;    // pointer to a list of ids, or of objects with an id and a name
    std::string unit;       // pointer to the unit's name, for the words only
    std::string maxCount;   // lists: at most this many elements
    bool readOnly = false;  // read from the sensor, ignored in a write
};

/// The role a write of the setting needs.
enum class WriteRole { Operator, Maintenance };

/// Where the sensor keeps a setting.
enum class Scope {
    Device,  // the device's own, outside the parameter setups
    Setup,   // stored in each parameter setup
    Apart,   // neither: another view of a setting, or the choice of setup
};

/// What is wrong with a value.
struct Violation {
    std::string member;                   // the body's member; empty: the whole body
    std::string expected;                 // in words: "a whole number from 10 to 100000 us"
    std::optional<nlohmann::json> given;  // absent: the member is missing
};

class Description;

/// A check across members, once each member follows its rule.
using CrossRule =
    std::function<std::optional<Violation>(const nlohmann::json& body, Description& description)>;

/// How a client reaches a setting through the public API, in the tool's terms: the value is the
/// record as JSON, or the single member's value for a setting with `plain` set.
struct ClientAccess {
    using Read = std::function<nlohmann::json(Quil&)>;
    using Write = std::function<void(Quil&, const nlohmann::json&)>;
    using Scope = std::function<std::string(Quil&)>;

    ClientAccess() = default;
    ClientAccess(Read read, Write write, Read describe, Scope scope = nullptr)
        : read(std::move(read)),
          write(std::move(write)),
          describe(std::move(describe)),
          scope(std::move(scope)) {}

    std::function<nlohmann::json(Quil&)> read;
    std::function<void(Quil&, const nlohmann::json&)> write;  // empty: not written by the tool
    std::function<nlohmann::json(Quil&)> describe;  // limits, units, choices; may be empty
    std::function<std::string(Quil&)> scope;        // the "{id}" of the rules; may be empty
};

/// One writable setting.
struct Setting {
    std::string resource;  // "ExposureTime"
    std::string name;      // the tool's: "exposure-time"
    std::string summary;   // one line, for the tool's help
    WriteRole role = WriteRole::Maintenance;
    Scope scope = Scope::Setup;
    bool inConfig = true;     // part of a configuration document (the tool's `config`)
    bool plain = false;       // the client's value is the body's one member
    std::string keyedBy;      // a body of one of several, e.g. "algorithmID"; see rules' {id}
    std::string changedWith;  // the tool changes it only with this command
    std::vector<MemberRule> members;
    std::vector<CrossRule> crossRules;
    ClientAccess access;
};

/// Every setting, in the order a configuration is written in (settings that others depend on
/// first).
const std::vector<Setting>& AllSettings();
/// The setting of `resource`, or null.
const Setting* FindResource(const std::string& resource);
/// The setting the tool calls `name`, or null.
const Setting* FindName(const std::string& name);
/// The resources of the settings kept in `scope`, in the order of AllSettings.
std::vector<std::string> ResourcesIn(Scope scope);
/// The "{id}" of the setting's rules on the sensor `quil` reaches; empty when it has none.
std::string ScopeOn(const Setting& setting, Quil& quil);

}  // namespace Varkon::QUILApi::Catalogue

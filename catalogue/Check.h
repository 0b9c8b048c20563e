#pragma once

// The one judgement of a setting's value against its rules (Settings.h) and the sensor's own
// description of its limits and choices.

#include "Settings.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace Varkon::QUILApi::Catalogue {

/// The sensor's description, as it sends it (its limit and meta resources by name), from which
/// rules take their limits, choices and units one value at a time.
class Description {
public:
    virtual ~Description() = default;
    /// The value at `pointer` (a JSON pointer); @throws std::exception when there is none.
    virtual const nlohmann::json& At(const std::string& pointer) = 0;
};

/// A description that is at hand as one document.
class DescriptionDocument : public Description {
public:
    explicit DescriptionDocument(const nlohmann::json& document) : document(document) {}
    const nlohmann::json& At(const std::string& pointer) override;

private:
    const nlohmann::json& document;
};

/// Checks the complete `body` of `setting`: an object holding every member that is not
/// read-only, each following its rule, and then the rules across members. `scope` replaces
/// "{id}" in the rules' pointers.
std::optional<Violation> Check(const Setting& setting, const nlohmann::json& body,
                               Description& description, const std::string& scope = {});

/// Checks a client's `value` of `setting` (the record as JSON, or the single member's value for a
/// plain setting) as Check does.
/// @return the words "<name>[.<member>] must be <expected>; got "<given>"" (or "... is missing;
///         it must be ..."), or nothing when the value fits.
std::optional<std::string> CheckValue(const Setting& setting, const nlohmann::json& value,
                                      Description& description, const std::string& scope = {});

/// A client's `value` of `setting` with every choice given by its name in the sensor's
/// description (in any case) replaced by its id; other values, unknown names included, stay for
/// the check to judge.
nlohmann::json ChoicesByNumber(const Setting& setting, nlohmann::json value,
                               Description& description, const std::string& scope = {});

/// Checks one member's value alone.
std::optional<Violation> CheckMember(const MemberRule& rule, const nlohmann::json& value,
                                     Description& description, const std::string& scope = {});

/// The words for what `rule` expects, e.g. "a whole number from 10 to 100000 us".
std::string Expected(const MemberRule& rule, Description& description,
                     const std::string& scope = {});
/// The words for `violation` of the value called `label`: "<label> must be <expected>; got
/// "<given>"", or "<label> is missing; it must be <expected>".
std::string Words(const std::string& label, const Violation& violation);
/// A value as a user gave it: text as it is, anything else as JSON.
std::string Given(const nlohmann::json& value);
/// A number without trailing zeros: 0.05, 100000.
std::string FormatNumber(double value);
/// Whether `text` is a dotted IPv4 address.
bool IsIPv4(const std::string& text);

}  // namespace Varkon::QUILApi::Catalogue

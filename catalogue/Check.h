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

/// Checks one member's value alone.
std::optional<Violation> CheckMember(const MemberRule& rule, const nlohmann::json& value,
                                     Description& description, const std::string& scope = {});

/// The words for what `rule` expects, e.g. "a whole number from 10 to 100000 us".
std::string Expected(const MemberRule& rule, Description& description,
                     const std::string& scope = {});
/// A value as a user gave it: text as it is, anything else as JSON.
std::string Given(const nlohmann::json& value);
/// A number without trailing zeros: 0.05, 100000.
std::string FormatNumber(double value);
/// Whether `text` is a dotted IPv4 address.
bool IsIPv4(const std::string& text);

}  // namespace Varkon::QUILApi::Catalogue

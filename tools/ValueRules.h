#pragma once

// What a setting's values must be, as the sensor describes them (limits, units, choices), and
// the check that says in words what was given and what was expected.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace QuilTool {

/// A value the sensor offers, with its name ("2 (Encoder)").
struct Choice {
    uint32_t id = 0;
    std::string name;
};

/// What one value must be: a setting's whole value (`member` empty) or one member of a record.
struct ValueRule {
    enum class Kind { Whole, Number, Flag, Text, Address, AddressOrEmpty, WholeList, TextList };

    std::string member;
    Kind kind = Kind::Whole;
    std::optional<double> min;  // inclusive
    std::optional<double> max;  // inclusive
    std::string unit;
    std::vector<Choice> choices;  // Whole and WholeList: the values allowed; empty: any in range
    std::size_t maxCount = std::numeric_limits<std::size_t>::max();  // lists
};

ValueRule WholeRule(std::string member, double min, double max, std::string unit = {});
ValueRule ChoiceRule(std::string member, std::vector<Choice> choices);
ValueRule NumberRule(std::string member, double min, double max, std::string unit = {});
ValueRule FlagRule(std::string member);
ValueRule KindRule(std::string member, ValueRule::Kind kind);

/// The words for what `rule` expects, e.g. "a whole number from 10 to 100000 us".
std::string Expected(const ValueRule& rule);
/// A value as the user gave it: text as it is, anything else as JSON.
std::string Given(const nlohmann::json& value);
/// A number without trailing zeros: 0.05, 100000.
std::string FormatNumber(double value);

/// Checks `value` of setting `name` against `rules`: a whole value against a rule without
/// member; a record must be an object holding every member a rule names.
/// @throws InvalidValue "<name>[.<member>] must be <expected>; got "<given>"".
void CheckValue(const std::string& name, const std::vector<ValueRule>& rules,
                const nlohmann::json& value);

}  // namespace QuilTool

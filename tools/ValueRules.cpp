#include "ValueRules.h"

#include "Failure.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

namespace QuilTool {
namespace {

using nlohmann::json;
using Kind = ValueRule::Kind;

std::string ChoiceList(const std::vector<Choice>& choices) {
    std::string text;
    for (const auto& choice : choices) {
        text += (text.empty() ? "" : ", ") + std::to_string(choice.id);
        if (!choice.name.empty()) {
            text += " (" + choice.name + ")";
        }
    }
    return text;
}

std::string Range(const ValueRule& rule) {
    std::string text;
    if (rule.min && rule.max) {
        text = " from " + FormatNumber(*rule.min) + " to " + FormatNumber(*rule.max);
    } else if (rule.min) {
        text = " of at least " + FormatNumber(*rule.min);
    } else if (rule.max) {
        text = " of at most " + FormatNumber(*rule.max);
    }
    return text.empty() || rule.unit.empty() ? text : text + " " + rule.unit;
}

bool IsAddress(const json& value) {
    in_addr address{};
    return value.is_string() && inet_pton(AF_INET, value.get<std::string>().c_str(), &address) == 1;
}

bool InRange(const ValueRule& rule, double number) {
    return (!rule.min || number >= *rule.min) && (!rule.max || number <= *rule.max);
}

// A whole number that fits the sensor's 32 bits.
bool IsWhole(const json& value) {
    return (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFFFFFFull) ||
           (value.is_number_integer() && value.get<int64_t>() >= 0 &&
            value.get<int64_t>() <= 0xFFFFFFFFll);
}

bool IsChoice(const ValueRule& rule, const json& value) {
    return rule.choices.empty() ||
           std::any_of(rule.choices.begin(), rule.choices.end(),
                       [&](const Choice& choice) { return value == choice.id; });
}

bool Fits(const ValueRule& rule, const json& value) {
    switch (rule.kind) {
        case Kind::Whole:
            return IsWhole(value) && InRange(rule, value.get<double>()) && IsChoice(rule, value);
        case Kind::Number:
            return value.is_number() && std::isfinite(value.get<double>()) &&
                   InRange(rule, value.get<double>());
        case Kind::Flag:
            return value.is_boolean();
        case Kind::Text:
            return value.is_string();
        case Kind::Address:
            return IsAddress(value);
        case Kind::AddressOrEmpty:
            return IsAddress(value) || value == "";
        case Kind::WholeList: {
            if (!value.is_array() || value.size() > rule.maxCount) {
                return false;
            }
            std::set<uint64_t> seen;
            for (const auto& element : value) {
                if (!IsWhole(element) || !IsChoice(rule, element) ||
                    !seen.insert(element.get<uint64_t>()).second) {
                    return false;
                }
            }
            return true;
        }
        case Kind::TextList:
            return value.is_array() && value.size() <= rule.maxCount &&
                   std::all_of(value.begin(), value.end(), [](const json& element) {
                       return element.is_string() && !element.get<std::string>().empty();
                   });
    }
    return false;
}

}  // namespace

ValueRule WholeRule(std::string member, double min, double max, std::string unit) {
    ValueRule rule;
    rule.member = std::move(member);
    rule.min = min;
    rule.max = max;
    rule.unit = std::move(unit);
    return rule;
}

ValueRule ChoiceRule(std::string member, std::vector<Choice> choices) {
    ValueRule rule;
    rule.member = std::move(member);
    rule.choices = std::move(choices);
    return rule;
}

ValueRule NumberRule(std::string member, double min, double max, std::string unit) {
    ValueRule rule = WholeRule(std::move(member), min, max, std::move(unit));
    rule.kind = Kind::Number;
    return rule;
}

ValueRule FlagRule(std::string member) {
    return KindRule(std::move(member), Kind::Flag);
}

ValueRule KindRule(std::string member, Kind kind) {
    ValueRule rule;
    rule.member = std::move(member);
    rule.kind = kind;
    return rule;
}

std::string Expected(const ValueRule& rule) {
    switch (rule.kind) {
        case Kind::Whole:
            return rule.choices.empty() ? "a whole number" + Range(rule)
                                        : "one of " + ChoiceList(rule.choices);
        case Kind::Number:
            return "a number" + Range(rule);
        case Kind::Flag:
            return "true or false";
        case Kind::Text:
            return "text";
        case Kind::Address:
            return "an IPv4 address such as 192.168.0.10";
        case Kind::AddressOrEmpty:
            return "an IPv4 address such as 192.168.0.10, or \"\"";
        case Kind::WholeList:
            return "a list such as [1, 2] of distinct values from " + ChoiceList(rule.choices);
        case Kind::TextList:
            return "a list of at most " + std::to_string(rule.maxCount) +
                   " names such as [\"pool.ntp.org\"]";
    }
    return {};
}

std::string Given(const json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

std::string FormatNumber(double value) {
    std::ostringstream text;
    text.precision(10);
    text << value;
    return text.str();
}

void CheckValue(const std::string& name, const std::vector<ValueRule>& rules, const json& value) {
    const bool record = !rules.empty() && !rules.front().member.empty();
    if (record && !value.is_object()) {
        std::string members;
        for (const auto& rule : rules) {
            members += (members.empty() ? "" : ", ") + rule.member;
        }
        throw InvalidValue(name + " must be key=value pairs or a JSON object with the members " +
                           members + "; got \"" + Given(value) + "\"");
    }
    for (const auto& rule : rules) {
        const std::string label = rule.member.empty() ? name : name + "." + rule.member;
        if (record && !value.contains(rule.member)) {
            throw InvalidValue(label + " is missing; it must be " + Expected(rule));
        }
        const json& part = record ? value.at(rule.member) : value;
        if (!Fits(rule, part)) {
            throw InvalidValue(label + " must be " + Expected(rule) + "; got \"" + Given(part) +
                               "\"");
        }
    }
}

}  // namespace QuilTool

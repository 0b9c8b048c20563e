#include "Check.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <sstream>

namespace Varkon::QUILApi::Catalogue {
namespace {

using nlohmann::json;

// Limits hold within this much, so that a limit survives its trip through decimal text.
constexpr double kSlack = 1e-9;

std::string Scoped(std::string pointer, const std::string& scope) {
    const auto at = pointer.find("{id}");
    if (at != std::string::npos) {
        pointer.replace(at, 4, scope);
    }
    return pointer;
}

double Operand(const std::string& token, Description& description, const std::string& scope) {
    const bool negative = token.size() > 1 && token[0] == '-' && token[1] == '/';
    const std::string text = negative ? token.substr(1) : token;
    const double value =
        text.front() == '/' ? description.At(Scoped(text, scope)).get<double>() : std::stod(text);
    return negative ? -value : value;
}

// A limit: operands joined by " + " and " - "; nothing when the limit is empty.
std::optional<double> Limit(const std::string& limit, Description& description,
                            const std::string& scope) {
    if (limit.empty()) {
        return std::nullopt;
    }
    std::istringstream tokens(limit);
    std::string token;
    tokens >> token;
    double value = Operand(token, description, scope);
    std::string operation;
    while (tokens >> operation >> token) {
        const double operand = Operand(token, description, scope);
        value += operation == "-" ? -operand : operand;
    }
    return value;
}

struct Choice {
    json id;
    std::string name;
};

std::vector<Choice> Choices(const MemberRule& rule, Description& description,
                            const std::string& scope) {
    std::vector<Choice> choices;
    if (rule.choices.empty()) {
        return choices;
    }
    for (const json& entry : description.At(Scoped(rule.choices, scope))) {
        if (!entry.is_object()) {
            choices.push_back({entry, {}});
            continue;
        }
        const char* id = entry.contains("id") ? "id" : "typeID";
        const char* name = entry.contains("name") ? "name" : "typeName";
        choices.push_back({entry.at(id), entry.value(name, "")});
    }
    return choices;
}

std::string ChoiceList(const std::vector<Choice>& choices) {
    std::string text;
    for (const auto& choice : choices) {
        text += (text.empty() ? "" : ", ") + choice.id.dump();
        if (!choice.name.empty()) {
            text += " (" + choice.name + ")";
        }
    }
    return text;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A whole number that fits the sensor's 32 bits.
bool IsWhole(const json& value) {
    return (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFFFFFFull) ||
           (value.is_number_integer() && value.get<int64_t>() >= 0 &&
            value.get<int64_t>() <= 0xFFFFFFFFll);
}

bool IsChoice(const std::vector<Choice>& choices, const json& value) {
    return choices.empty() || std::any_of(choices.begin(), choices.end(),
                                          [&](const Choice& choice) { return value == choice.id; });
}

bool InRange(const MemberRule& rule, double number, Description& description,
             const std::string& scope) {
    const auto min = Limit(rule.min, description, scope);
    const auto max = Limit(rule.max, description, scope);
    return (!min || number >= *min - kSlack) && (!max || number <= *max + kSlack);
}

std::size_t MaxCount(const MemberRule& rule, Description& description, const std::string& scope) {
    const auto count = Limit(rule.maxCount, description, scope);
    return count ? static_cast<std::size_t>(*count) : static_cast<std::size_t>(-1);
}

bool Fits(const MemberRule& rule, const json& value, Description& description,
          const std::string& scope) {
    switch (rule.kind) {
        case Kind::Whole:
            return IsWhole(value) && InRange(rule, value.get<double>(), description, scope) &&
                   IsChoice(Choices(rule, description, scope), value);
        case Kind::Number:
            return value.is_number() && std::isfinite(value.get<double>()) &&
                   InRange(rule, value.get<double>(), description, scope);
        case Kind::Flag:
            return value.is_boolean();
        case Kind::Text:
            return value.is_string();
        case Kind::Address:
            return value.is_string() && IsIPv4(value.get<std::string>());
        case Kind::AddressOrEmpty:
            return value.is_string() && (value == "" || IsIPv4(value.get<std::string>()));
        case Kind::WholeList: {
            if (!value.is_array() || value.size() > MaxCount(rule, description, scope)) {
                return false;
            }
            const auto choices = Choices(rule, description, scope);
            std::set<uint64_t> seen;
            return std::all_of(value.begin(), value.end(), [&](const json& element) {
                return IsWhole(element) && IsChoice(choices, element) &&
                       seen.insert(element.get<uint64_t>()).second;
            });
        }
        case Kind::TextList:
            return value.is_array() && value.size() <= MaxCount(rule, description, scope) &&
                   std::all_of(value.begin(), value.end(), [](const json& element) {
                       return element.is_string() && !element.get<std::string>().empty();
                   });
    }
    return false;
}

std::string Range(const MemberRule& rule, Description& description, const std::string& scope) {
    const auto min = Limit(rule.min, description, scope);
    const auto max = Limit(rule.max, description, scope);
    std::string text;
    if (min && max) {
        text = " from " + FormatNumber(*min) + " to " + FormatNumber(*max);
    } else if (min) {
        text = " of at least " + FormatNumber(*min);
    } else if (max) {
        text = " of at most " + FormatNumber(*max);
    }
    if (text.empty() || rule.unit.empty()) {
        return text;
    }
    const std::string unit = description.At(Scoped(rule.unit, scope)).get<std::string>();
    return unit.empty() ? text : text + " " + unit;
}

}  // namespace

const json& DescriptionDocument::At(const std::string& pointer) {
    return document.at(json::json_pointer(pointer));
}

std::string Expected(const MemberRule& rule, Description& description, const std::string& scope) {
    switch (rule.kind) {
        case Kind::Whole: {
            const auto choices = Choices(rule, description, scope);
            return choices.empty() ? "a whole number" + Range(rule, description, scope)
                                   : "one of " + ChoiceList(choices);
        }
        case Kind::Number:
            return "a number" + Range(rule, description, scope);
        case Kind::Flag:
            return "true or false";
        case Kind::Text:
            return "text";
        case Kind::Address:
            return "an IPv4 address such as 192.168.0.10";
        case Kind::AddressOrEmpty:
            return "an IPv4 address such as 192.168.0.10, or \"\"";
        case Kind::WholeList:
            return "a list such as [1, 2] of distinct values from " +
                   ChoiceList(Choices(rule, description, scope));
        case Kind::TextList:
            return "a list of at most " + std::to_string(MaxCount(rule, description, scope)) +
                   " names such as [\"pool.ntp.org\"]";
    }
    return {};
}

std::optional<Violation> CheckMember(const MemberRule& rule, const json& value,
                                     Description& description, const std::string& scope) {
    if (Fits(rule, value, description, scope)) {
        return std::nullopt;
    }
    return Violation{rule.member, Expected(rule, description, scope), value};
}

std::optional<Violation> Check(const Setting& setting, const json& body, Description& description,
                               const std::string& scope) {
    if (!body.is_object()) {
        std::string members;
        for (const auto& rule : setting.members) {
            if (!rule.readOnly) {
                members += (members.empty() ? "" : ", ") + rule.member;
            }
        }
        return Violation{{}, "a JSON object with the members " + members, body};
    }
    for (const auto& rule : setting.members) {
        if (rule.readOnly) {
            continue;
        }
        if (!body.contains(rule.member)) {
            return Violation{rule.member, Expected(rule, description, scope), std::nullopt};
        }
        if (auto violation = CheckMember(rule, body[rule.member], description, scope)) {
            return violation;
        }
    }
    for (const auto& cross : setting.crossRules) {
        if (auto violation = cross(body, description)) {
            return violation;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckValue(const Setting& setting, const json& value,
                                      Description& description, const std::string& scope) {
    if (!setting.plain && !value.is_object()) {
        return setting.name + " must be a JSON object; got \"" + Given(value) + "\"";
    }
    const json body = setting.plain ? json{{setting.members.front().member, value}} : value;
    const auto violation = Check(setting, body, description, scope);
    if (!violation) {
        return std::nullopt;
    }
    return Words(setting.plain ? setting.name : setting.name + "." + violation->member, *violation);
}

json ChoicesByNumber(const Setting& setting, json value, Description& description,
                     const std::string& scope) {
    for (const auto& rule : setting.members) {
        json* member = setting.plain                                      ? &value
                       : value.is_object() && value.contains(rule.member) ? &value[rule.member]
                                                                          : nullptr;
        if (rule.choices.empty() || member == nullptr) {
            continue;
        }
        std::vector<json*> given = {member};
        if (member->is_array()) {
            given.clear();
            for (json& element : *member) {
                given.push_back(&element);
            }
        }
        if (std::none_of(given.begin(), given.end(), [](json* one) { return one->is_string(); })) {
            continue;  // the description is read only for a name
        }
        const auto choices = Choices(rule, description, scope);
        for (json* one : given) {
            const auto named = std::find_if(choices.begin(), choices.end(), [&](const Choice& c) {
                return one->is_string() && !c.name.empty() &&
                       SameName(c.name, one->get<std::string>());
            });
            if (named != choices.end()) {
                *one = named->id;
            }
        }
    }
    return value;
}

std::string Words(const std::string& label, const Violation& violation) {
    if (!violation.given) {
        return label + " is missing; it must be " + violation.expected;
    }
    return label + " must be " + violation.expected + "; got \"" + Given(*violation.given) + "\"";
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

bool IsIPv4(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

}  // namespace Varkon::QUILApi::Catalogue

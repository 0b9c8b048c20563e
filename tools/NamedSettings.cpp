#include "NamedSettings.h"

#include "ClientDescription.h"
#include "Failure.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace QuilTool {
namespace {

using nlohmann::json;
using Varkon::QUILApi::Quil;
namespace Catalogue = Varkon::QUILApi::Catalogue;

json ParseValue(const std::string& text) {
    const json value = json::parse(text, nullptr, false);
    return value.is_discarded() ? json(text) : value;
}

std::string Words(const std::string& label, const Catalogue::Violation& violation) {
    if (!violation.given) {
        return label + " is missing; it must be " + violation.expected;
    }
    return label + " must be " + violation.expected + "; got \"" + Given(*violation.given) + "\"";
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

const std::vector<Setting>& AllSettings() {
    return Catalogue::AllSettings();
}

json ReadConfig(Quil& quil) {
    json config = json::object();
    for (const auto& setting : AllSettings()) {
        if (setting.inConfig && setting.access.write) {
            config[setting.name] = setting.access.read(quil);
        }
    }
    return config;
}

const Setting& FindSetting(const std::string& name) {
    if (const Setting* setting = Catalogue::FindName(name)) {
        return *setting;
    }
    std::string known;
    for (const auto& setting : AllSettings()) {
        known += (known.empty() ? "" : ", ") + setting.name;
    }
    throw UsageError("unknown setting \"" + name + "\" (known: " + known + ")");
}

json ApplyArguments(const std::string& name, const std::function<json()>& current,
                    const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0].find('=') == std::string::npos) {
        return ParseValue(arguments[0]);
    }
    json value = current();
    for (const auto& argument : arguments) {
        const auto equals = argument.find('=');
        if (equals == std::string::npos) {
            throw InvalidValue(name + " takes key=value pairs; got \"" + argument + "\"");
        }
        const std::string key = argument.substr(0, equals);
        if (!value.is_object() || !value.contains(key)) {
            std::string members;
            for (const auto& [member, ignored] : value.items()) {
                members += (members.empty() ? "" : ", ") + member;
            }
            throw InvalidValue(name + " has no member \"" + key + "\"" +
                               (members.empty() ? "" : " (members: " + members + ")"));
        }
        const std::string text = argument.substr(equals + 1);
        value[key] = value[key].is_string() ? json(text) : ParseValue(text);
    }
    return value;
}

void CheckWritable(const Setting& setting, Quil& quil, const json& value,
                   Catalogue::Description* description) {
    if (!setting.changedWith.empty()) {
        throw UsageError(setting.name + " is changed with `" + setting.changedWith + "`");
    }
    if (!setting.access.write) {
        throw UsageError(setting.name + " cannot be written");
    }
    if (!setting.plain && !value.is_object()) {
        std::string members;
        for (const auto& rule : setting.members) {
            if (!rule.readOnly) {
                members += (members.empty() ? "" : ", ") + rule.member;
            }
        }
        throw InvalidValue(setting.name +
                           " must be key=value pairs or a JSON object with the members " + members +
                           "; got \"" + Given(value) + "\"");
    }
    Catalogue::ClientDescription own(quil);
    Catalogue::Description& limits = description ? *description : own;
    const json body = setting.plain ? json{{setting.members.front().member, value}} : value;
    const std::string scope = setting.access.scope ? setting.access.scope(quil) : "";
    if (const auto violation = Catalogue::Check(setting, body, limits, scope)) {
        throw InvalidValue(Words(
            setting.plain ? setting.name : setting.name + "." + violation->member, *violation));
    }
}

json ChoicesByNumber(const Setting& setting, Quil& quil, json value) {
    Catalogue::ClientDescription description(quil);
    const std::string scope = setting.access.scope ? setting.access.scope(quil) : "";
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
        std::string pointer = rule.choices;
        if (const auto at = pointer.find("{id}"); at != std::string::npos) {
            pointer.replace(at, 4, scope);
        }
        for (json* one : given) {
            if (!one->is_string()) {
                continue;
            }
            for (const json& choice : description.At(pointer)) {
                const json name = choice.is_object()
                                      ? choice.value("name", choice.value("typeName", json()))
                                      : json();
                if (name.is_string() &&
                    Lower(name.get<std::string>()) == Lower(one->get<std::string>())) {
                    *one = choice.contains("id") ? choice.at("id") : choice.at("typeID");
                    break;
                }
            }
        }
    }
    return value;
}

void CheckMemberValue(Quil& quil, const std::string& name, const std::string& member,
                      const std::string& label, const json& value) {
    const Setting& setting = FindSetting(name);
    const auto rule = std::find_if(setting.members.begin(), setting.members.end(),
                                   [&](const auto& r) { return r.member == member; });
    if (rule == setting.members.end()) {
        throw std::logic_error(name + " has no member " + member);
    }
    Catalogue::ClientDescription limits(quil);
    if (const auto violation = Catalogue::CheckMember(*rule, value, limits)) {
        throw InvalidValue(Words(label, *violation));
    }
}

}  // namespace QuilTool

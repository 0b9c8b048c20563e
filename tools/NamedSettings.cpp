#include "NamedSettings.h"

#include "ClientDescription.h"
#include "Failure.h"

#include <algorithm>
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

}  // namespace

const std::vector<Setting>& AllSettings() {
    return Catalogue::AllSettings();
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

json WritableValue(const Setting& setting, Quil& quil, const json& value) {
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
    Catalogue::ClientDescription description(quil);
    const std::string scope = Catalogue::ScopeOn(setting, quil);
    json written = Catalogue::ChoicesByNumber(setting, value, description, scope);
    if (const auto problem = Catalogue::CheckValue(setting, written, description, scope)) {
        throw InvalidValue(*problem);
    }
    return written;
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
        throw InvalidValue(Catalogue::Words(label, *violation));
    }
}

}  // namespace QuilTool

#include "Document.h"

#include "Check.h"
#include "ClientDescription.h"

#include <utility>

namespace Varkon::QUILApi::Catalogue {
namespace {

using nlohmann::json;

struct Change {
    const Setting* setting;
    json value;
};

void Call(const std::function<void()>& step) {
    if (step) {
        step();
    }
}

std::string Explained(const DocumentSteps& steps, const std::exception& failure) {
    return steps.explain ? steps.explain(failure) : failure.what();
}

// The document's settings in the order they are written, each value checked with its choices
// by number.
std::vector<Change> Checked(Quil& quil, const json& document, const DocumentSteps& steps) {
    if (const std::string problem = DocumentProblem(document); !problem.empty()) {
        throw InvalidDocument(problem);
    }
    std::vector<Change> changes;
    ClientDescription description(quil);  // read once for all checks
    for (const Setting& setting : AllSettings()) {
        if (!document.contains(setting.name) || (steps.leaveOut && steps.leaveOut(setting))) {
            continue;
        }
        Call(steps.beforeExchange);
        const std::string scope = ScopeOn(setting, quil);
        json value = ChoicesByNumber(setting, document[setting.name], description, scope);
        if (const auto problem = CheckValue(setting, value, description, scope)) {
            throw InvalidDocument(*problem);
        }
        changes.push_back({&setting, std::move(value)});
    }
    return changes;
}

// Writes back the values that `written` replaced, last first, after `failure` stopped the
// writing.
[[noreturn]] void PutBack(Quil& quil, const std::vector<Change>& written,
                          const std::string& failure, const DocumentSteps& steps) {
    std::string putBack;
    std::string notPutBack;
    for (auto it = written.rbegin(); it != written.rend(); ++it) {
        Call(steps.beforeExchange);
        try {
            it->setting->access.write(quil, it->value);
            putBack += (putBack.empty() ? "" : ", ") + it->setting->name;
        } catch (const std::exception& error) {
            notPutBack +=
                "; putting back " + it->setting->name + " failed too: " + Explained(steps, error);
        }
    }
    throw DocumentNotApplied(
        failure + (putBack.empty() ? "" : "; put back: " + putBack) + notPutBack,
        notPutBack.empty());
}

}  // namespace

bool InDocument(const Setting& setting) {
    return setting.inConfig && setting.access.write && setting.changedWith.empty();
}

std::string DocumentProblem(const json& document) {
    if (!document.is_object()) {
        return "expected a JSON object of settings by name, as `quil config save` writes it";
    }
    for (const auto& [name, value] : document.items()) {
        const Setting* setting = FindName(name);
        if (setting == nullptr) {
            return "unknown setting \"" + name + "\"";
        }
        if (!InDocument(*setting)) {
            return name + " is not part of a configuration";
        }
    }
    return {};
}

json ReadDocument(Quil& quil) {
    json document = json::object();
    for (const Setting& setting : AllSettings()) {
        if (InDocument(setting)) {
            document[setting.name] = setting.access.read(quil);
        }
    }
    return document;
}

AppliedDocument ApplyDocument(Quil& quil, const json& document, const DocumentSteps& steps) {
    const std::vector<Change> changes = Checked(quil, document, steps);
    std::vector<Change> before;
    for (const Change& change : changes) {
        Call(steps.beforeExchange);
        before.push_back({change.setting, change.setting->access.read(quil)});
    }
    AppliedDocument applied{changes.size(), {}};
    std::vector<Change> written;
    try {
        for (std::size_t i = 0; i < changes.size(); ++i) {
            Call(steps.beforeWrite);
            if (changes[i].value == before[i].value) {
                continue;
            }
            Call(steps.beforeExchange);
            try {
                changes[i].setting->access.write(quil, changes[i].value);
            } catch (const std::exception& error) {
                throw std::runtime_error("the sensor refused " + changes[i].setting->name + " = " +
                                         Given(document[changes[i].setting->name]) + ": " +
                                         Explained(steps, error));
            }
            written.push_back(before[i]);
            applied.written.push_back(changes[i].setting->name);
        }
        Call(steps.beforeWrite);
    } catch (const std::exception& failure) {
        PutBack(quil, written, failure.what(), steps);
    }
    return applied;
}

}  // namespace Varkon::QUILApi::Catalogue

#include "SettingsDocument.h"

#include "Check.h"
#include "ClientDescription.h"
#include "Settings.h"

#include <stdexcept>
#include <utility>
#include <vector>

namespace Varkon::QuilGateway {
namespace {

using nlohmann::json;
namespace Catalogue = Varkon::QUILApi::Catalogue;

// The settings StreamOutputAim writes and puts back.
bool AimedByTheGateway(const Catalogue::Setting& setting) {
    return setting.resource == "ProcessInterfaces" || setting.resource == "UDPStreamData";
}

std::string Words(const std::string& label, const Catalogue::Violation& violation) {
    if (!violation.given) {
        return label + " is missing; it must be " + violation.expected;
    }
    return label + " must be " + violation.expected + "; got \"" +
           Catalogue::Given(*violation.given) + "\"";
}

void Check(const Catalogue::Setting& setting, Varkon::QUILApi::Quil& quil, const json& value,
           Catalogue::Description& description) {
    if (!setting.plain && !value.is_object()) {
        throw std::runtime_error(setting.name + " must be a JSON object; got \"" +
                                 Catalogue::Given(value) + "\"");
    }
    const json body = setting.plain ? json{{setting.members.front().member, value}} : value;
    const std::string scope = setting.access.scope ? setting.access.scope(quil) : "";
    if (const auto violation = Catalogue::Check(setting, body, description, scope)) {
        throw std::runtime_error(Words(
            setting.plain ? setting.name : setting.name + "." + violation->member, *violation));
    }
}

}  // namespace

std::string SettingsDocumentProblem(const json& document) {
    if (!document.is_object()) {
        return "expected a JSON object of settings by name, as `quil config save` writes it";
    }
    for (const auto& [name, value] : document.items()) {
        const Catalogue::Setting* setting = Catalogue::FindName(name);
        if (setting == nullptr) {
            return "unknown setting \"" + name + "\"";
        }
        if (!setting->inConfig || !setting->access.write || !setting->changedWith.empty()) {
            return name + " is not part of a configuration";
        }
    }
    return {};
}

std::size_t ApplySettingsDocument(Varkon::QUILApi::Quil& quil, const json& document) {
    if (const std::string problem = SettingsDocumentProblem(document); !problem.empty()) {
        throw std::runtime_error(problem);
    }
    std::vector<std::pair<const Catalogue::Setting*, json>> before;
    Catalogue::ClientDescription description(quil);  // read once for all checks
    for (const Catalogue::Setting& setting : Catalogue::AllSettings()) {
        if (document.contains(setting.name) && !AimedByTheGateway(setting)) {
            Check(setting, quil, document[setting.name], description);
            before.emplace_back(&setting, setting.access.read(quil));
        }
    }
    std::vector<std::pair<const Catalogue::Setting*, json>> written;
    try {
        for (const auto& [setting, old] : before) {
            const json& value = document[setting->name];
            if (value == old) {
                continue;
            }
            try {
                setting->access.write(quil, value);
            } catch (const std::exception& error) {
                throw std::runtime_error("the sensor refused " + setting->name + " = " +
                                         Catalogue::Given(value) + ": " + error.what());
            }
            written.emplace_back(setting, old);
        }
    } catch (const std::exception& failure) {
        std::string putBack;
        std::string notPutBack;
        for (auto it = written.rbegin(); it != written.rend(); ++it) {
            try {
                it->first->access.write(quil, it->second);
                putBack += (putBack.empty() ? "" : ", ") + it->first->name;
            } catch (const std::exception& error) {
                notPutBack += "; putting back " + it->first->name + " failed too: " + error.what();
            }
        }
        throw std::runtime_error(failure.what() +
                                 (putBack.empty() ? "" : "; put back: " + putBack) + notPutBack);
    }
    return written.size();
}

}  // namespace Varkon::QuilGateway

// quil get, quil set, quil config: the sensor's settings by name.
#include "Commands.h"
#include "Counted.h"
#include "Document.h"
#include "Files.h"
#include "Interruption.h"
#include "NamedSettings.h"

#include <quil/Json.h>

#include <CLI/CLI.hpp>

#include <ostream>
#include <sstream>
#include <stdexcept>

namespace QuilTool {
namespace {

using nlohmann::json;
namespace Catalogue = Varkon::QUILApi::Catalogue;

// The one setting whose change `set` asks about first: the sensor may no longer answer.
const char* const kNetwork = "network";

std::string SettingNames() {
    std::string names;
    for (const auto& setting : AllSettings()) {
        names += "\n  " + setting.name + ": " + setting.summary;
    }
    return names;
}

json ReadSetting(const Setting& setting, Varkon::QUILApi::Quil& quil) {
    json entry = {{"name", setting.name}, {"value", setting.access.read(quil)}};
    if (setting.access.describe) {
        entry.update(setting.access.describe(quil));
    }
    return entry;
}

std::string SettingText(const json& entry) {
    std::ostringstream text;
    text << entry["name"].get<std::string>() << " = " << entry["value"].dump();
    if (entry.contains("unit")) {
        text << " " << entry["unit"].get<std::string>();
    }
    text << "\n";
    for (const auto& [key, value] : entry.items()) {
        if (key != "name" && key != "value" && key != "unit") {
            text << "  " << key << ": " << value.dump() << "\n";
        }
    }
    return text.str();
}

void Get(Context& context, const std::string& name) {
    const Setting* one = name.empty() ? nullptr : &FindSetting(name);
    auto quil = context.Connect();
    if (one) {
        const json entry = ReadSetting(*one, *quil);
        context.Print(entry, SettingText(entry));
        return;
    }
    // A setting the sensor does not answer is reported, and the others are still shown.
    json entries = json::array();
    std::string text;
    std::size_t failed = 0;
    for (const auto& setting : AllSettings()) {
        context.ExpectAnswers();  // the time limit holds for each setting
        try {
            entries.push_back(ReadSetting(setting, *quil));
            text += SettingText(entries.back());
        } catch (const std::exception& e) {
            *context.err << "quil: " << setting.name << ": " << Explain(e, context.Failures())
                         << "\n";
            ++failed;
        }
    }
    context.Print({{"settings", entries}}, text);
    if (failed != 0) {
        throw std::runtime_error(Counted(failed, "setting", " could not be read"));
    }
}

void Set(Context& context, const std::string& name, const std::vector<std::string>& arguments) {
    const Setting& setting = FindSetting(name);
    auto quil = context.Connect();
    // The current value is read only when single members change, and the sensor's descriptions
    // only as far as the check needs them; what is shown is what the sensor then holds.
    const json value =
        WritableValue(setting, *quil,
                      ApplyArguments(
                          setting.name, [&] { return setting.access.read(*quil); }, arguments));
    if (setting.name == kNetwork) {
        context.Confirm("Change the network settings of the sensor at " + context.host +
                            "? It may no longer answer at this address.",
                        "set network can make the sensor unreachable at " + context.host);
        context.ExpectAnswers();
    }
    try {
        setting.access.write(*quil, value);
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot set " + setting.name + ": " +
                                 Explain(e, context.Failures()));
    }
    const json now = setting.access.read(*quil);
    context.Print({{"name", setting.name}, {"value", now}},
                  setting.name + " = " + now.dump() + "\n");
}

void SaveConfig(Context& context, const std::string& path) {
    auto quil = context.Connect();
    const json config = Catalogue::ReadDocument(*quil);
    WriteFile(path, [&](std::ostream& out) { out << config.dump(2) << "\n"; });
    context.Print({{"file", path}, {"settings", config.size()}},
                  "saved " + std::to_string(config.size()) + " settings to " + path + "\n");
}

void LoadConfig(Context& context, const std::string& path) {
    const json config = json::parse(ReadFile(path), nullptr, false);
    if (!config.is_object()) {
        throw std::runtime_error(path + " does not hold a JSON object");
    }
    for (const auto& [name, value] : config.items()) {
        try {
            FindSetting(name);
        } catch (const std::exception& e) {
            throw std::runtime_error(path + ": " + e.what());
        }
    }
    auto quil = context.Connect();
    Catalogue::DocumentSteps steps;
    steps.beforeExchange = [&context] { context.ExpectAnswers(); };
    steps.beforeWrite = [] { InterruptionGuard::ThrowIfInterrupted(); };
    steps.explain = [&context](const std::exception& e) { return Explain(e, context.Failures()); };
    // Either every setting is written, or what was written is put back.
    InterruptionGuard guard;
    Catalogue::AppliedDocument applied;
    try {
        applied = Catalogue::ApplyDocument(*quil, config, steps);
    } catch (const Catalogue::InvalidDocument& e) {
        throw std::runtime_error(path + ": " + e.what());
    } catch (const Catalogue::DocumentNotApplied& e) {
        if (InterruptionGuard::Received() != 0 && e.allPutBack) {
            throw Interrupted(e.what());
        }
        throw std::runtime_error(e.what());
    }
    context.Print({{"file", path}, {"written", applied.written}},
                  "loaded " + Counted(applied.settings, "setting", " from ") + path + " (" +
                      std::to_string(applied.written.size()) + " changed)\n");
}

}  // namespace

void AddSettingCommands(CLI::App& app, Context& context) {
    static std::string name;
    static std::vector<std::string> arguments;
    static std::string path;

    auto* get = app.add_subcommand("get",
                                   "Show a setting (all when no name is given) with its "
                                   "limits, units and choices");
    SetExamples(*get, {"quil get exposure-time", "quil get --json"});
    get->footer(get->get_footer() + "\n\nSettings:" + SettingNames());
    AddCommonOptions(*get, context);
    get->add_option("name", name, "Setting to show");
    get->callback([&context] { Get(context, name); });

    auto* set = app.add_subcommand(
        "set",
        "Change a setting: a whole value, or single members of a record as key=value pairs; the "
        "value is checked against the sensor's limits first, and a change of the network "
        "settings asks first");
    SetExamples(*set, {"quil set exposure-time 800 --role maintenance",
                       "quil set trigger triggerMode=2 modeOption=1 encoderSteps=100 --role "
                       "maintenance",
                       "quil set fov '{\"limitLeft\":-40,\"limitRight\":40,\"offset\":10,"
                       "\"height\":100}' --role maintenance"});
    set->footer(set->get_footer() + "\n\nSettings:" + SettingNames());
    AddCommonOptions(*set, context);
    AddConfirmOption(*set, context);
    set->add_option("name", name, "Setting to change")->required();
    set->add_option("value", arguments, "New value, or key=value pairs for single members")
        ->required();
    set->callback([&context] { Set(context, name, arguments); });

    auto* config = app.add_subcommand("config",
                                      "Save or load all writable settings as one JSON "
                                      "document");
    config->require_subcommand(1);
    SetExamples(*config, {"quil config save settings.json"});
    auto* save = config->add_subcommand("save", "Write the settings to FILE");
    SetExamples(*save, {"quil config save settings.json"});
    AddCommonOptions(*save, context);
    save->add_option("file", path, "JSON file to write")->required();
    save->callback([&context] { SaveConfig(context, path); });
    auto* load = config->add_subcommand(
        "load",
        "Write the settings of FILE to the sensor: all are checked against the sensor's limits "
        "first (a choice by number or by its name, as set takes it), only those that differ are "
        "written, and when the sensor refuses one, those already written are put back");
    SetExamples(*load, {"quil config load settings.json --role maintenance"});
    AddCommonOptions(*load, context);
    load->add_option("file", path, "JSON file to read")->required();
    load->callback([&context] { LoadConfig(context, path); });
}

}  // namespace QuilTool

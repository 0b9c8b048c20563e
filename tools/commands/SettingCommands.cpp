// quil get, quil set, quil config: the sensor's settings by name.
#include "Commands.h"
#include "Files.h"
#include "RecordJson.h"
#include "Settings.h"

#include <CLI/CLI.hpp>

#include <ostream>
#include <stdexcept>

namespace QuilTool {
namespace {

using nlohmann::json;

std::string SettingNames() {
    std::string names;
    for (const auto& setting : AllSettings()) {
        names += "\n  " + setting.name + ": " + setting.description;
    }
    return names;
}

void PrintSetting(const Context& context, const Setting& setting, Varkon::QUILApi::Quil& quil) {
    json entry = {{"name", setting.name}, {"value", setting.read(quil)}};
    if (setting.describe) {
        entry.update(setting.describe(quil));
    }
    if (context.json) {
        *context.out << entry.dump() << "\n";
        return;
    }
    *context.out << setting.name << " = " << entry["value"].dump();
    if (entry.contains("unit")) {
        *context.out << " " << entry["unit"].get<std::string>();
    }
    *context.out << "\n";
    for (const auto& [key, value] : entry.items()) {
        if (key != "name" && key != "value" && key != "unit") {
            *context.out << "  " << key << ": " << value.dump() << "\n";
        }
    }
}

void SaveConfig(const Context& context, const std::string& path) {
    auto quil = context.Connect();
    json config = json::object();
    for (const auto& setting : AllSettings()) {
        if (setting.inConfig && setting.write) {
            config[setting.name] = setting.read(*quil);
        }
    }
    WriteFile(path, [&](std::ostream& out) { out << config.dump(2) << "\n"; });
    *context.out << "saved " << config.size() << " settings to " << path << "\n";
}

void LoadConfig(const Context& context, const std::string& path) {
    const json config = json::parse(ReadFile(path));
    if (!config.is_object()) {
        throw std::invalid_argument(path + " does not hold a JSON object");
    }
    for (const auto& [name, value] : config.items()) {
        FindSetting(name);  // refuse unknown names before anything is written
    }
    auto quil = context.Connect();
    std::size_t written = 0;
    for (const auto& setting : AllSettings()) {  // in the order the settings depend on
        if (config.contains(setting.name)) {
            if (!setting.write) {
                throw std::invalid_argument(setting.name + " cannot be written");
            }
            setting.write(*quil, config[setting.name]);
            ++written;
        }
    }
    *context.out << "loaded " << written << " settings from " << path << "\n";
}

}  // namespace

void AddSettingCommands(CLI::App& app, Context& context) {
    static std::string name;
    static std::vector<std::string> arguments;
    static std::string path;

    auto* get = app.add_subcommand("get",
                                   "Show a setting (all when no name is given) with its "
                                   "limits, units and choices");
    get->footer("Settings:" + SettingNames());
    AddCommonOptions(*get, context, true);
    get->add_option("name", name, "Setting to show");
    get->callback([&context] {
        const Setting* one = name.empty() ? nullptr : &FindSetting(name);
        auto quil = context.Connect();
        if (one) {
            PrintSetting(context, *one, *quil);
            return;
        }
        // A setting the sensor does not answer is reported, and the others are still shown.
        std::size_t failed = 0;
        for (const auto& setting : AllSettings()) {
            try {
                PrintSetting(context, setting, *quil);
            } catch (const std::exception& e) {
                *context.err << "quil: " << setting.name << ": " << e.what() << "\n";
                ++failed;
            }
        }
        if (failed != 0) {
            throw std::runtime_error(std::to_string(failed) + " settings could not be read");
        }
    });

    auto* set =
        app.add_subcommand("set",
                           "Change a setting: `set exposure-time 500`, `set trigger triggerMode=2 "
                           "triggerTime=1000` or `set fov '{\"limitLeft\":-20,...}'`");
    set->footer("Settings:" + SettingNames());
    AddCommonOptions(*set, context, false);
    set->add_option("name", name, "Setting to change")->required();
    set->add_option("value", arguments, "New value, or key=value pairs for single members")
        ->required();
    set->callback([&context] {
        const Setting& setting = FindSetting(name);
        if (!setting.write) {
            throw std::invalid_argument(setting.name + " cannot be written");
        }
        auto quil = context.Connect();
        const json value = ApplyArguments(setting.read(*quil), arguments);
        setting.write(*quil, value);
        *context.out << setting.name << " = " << setting.read(*quil).dump() << "\n";
    });

    auto* config = app.add_subcommand("config",
                                      "Save or load all writable settings as one JSON "
                                      "document");
    config->require_subcommand(1);
    auto* save = config->add_subcommand("save", "Write the settings to FILE");
    AddCommonOptions(*save, context, false);
    save->add_option("file", path, "JSON file to write")->required();
    save->callback([&context] { SaveConfig(context, path); });
    auto* load = config->add_subcommand("load", "Write the settings of FILE to the sensor");
    AddCommonOptions(*load, context, false);
    load->add_option("file", path, "JSON file to read")->required();
    load->callback([&context] { LoadConfig(context, path); });
}

}  // namespace QuilTool

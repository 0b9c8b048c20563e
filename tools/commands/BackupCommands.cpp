// quil backup, quil restore: the sensor's settings as one opaque text, byte for byte.
#include "Commands.h"
#include "Counted.h"
#include "Files.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>

namespace QuilTool {

void AddBackupCommands(CLI::App& app, Context& context) {
    static std::string path;
    static std::optional<uint32_t> setup;

    auto* backup = app.add_subcommand("backup", "Save the sensor's settings to FILE");
    SetExamples(*backup, {"quil backup settings.txt"});
    AddCommonOptions(*backup, context);
    backup->add_option("file", path, "File to write")->required();
    backup->add_option("--setup", setup, "Only this parameter setup (default: all settings)");
    backup->callback([&context] {
        auto quil = context.Connect();
        if (setup) {
            CheckSetupNumber(*quil, *setup);
        }
        const std::string blob = setup ? quil->ReadSingleSetting(*setup) : quil->ReadAllSettings();
        WriteFile(path, [&](std::ostream& out) { out << blob; });
        context.Print({{"file", path}, {"bytes", blob.size()}},
                      "saved " + Counted(blob.size(), "byte", " of settings to ") + path + "\n");
    });

    auto* restore = app.add_subcommand(
        "restore",
        "Write settings saved with backup back to the sensor, replacing its current ones (asks "
        "first)");
    SetExamples(*restore, {"quil restore settings.txt --yes --role maintenance"});
    AddCommonOptions(*restore, context);
    AddConfirmOption(*restore, context);
    restore->add_option("file", path, "File written by backup")->required();
    restore->add_option("--setup", setup, "Into this parameter setup (default: all settings)");
    restore->callback([&context] {
        const std::string blob = ReadFile(path);
        const std::string what =
            setup ? "parameter setup " + std::to_string(*setup) : std::string("every setting");
        context.Confirm(
            "Replace " + what + " of the sensor at " + context.host + " with " + path + "?",
            "restore replaces " + what + " of the sensor");
        auto quil = context.Connect();
        if (setup) {
            CheckSetupNumber(*quil, *setup);
            quil->WriteSingleSetting(blob, *setup);
        } else {
            quil->WriteAllSettings(blob);
        }
        context.Print(
            {{"file", path}, {"bytes", blob.size()}},
            "restored " + Counted(blob.size(), "byte", " of settings from ") + path + "\n");
    });
}

}  // namespace QuilTool

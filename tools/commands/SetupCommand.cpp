// quil setup: the sensor's stored parameter setups.
#include "Commands.h"
#include "RecordJson.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace QuilTool {

void AddSetupCommand(CLI::App& app, Context& context) {
    static uint32_t number = 0;

    auto* setup = app.add_subcommand("setup", "List, activate, store or reset parameter setups");
    setup->require_subcommand(1);

    auto* list = setup->add_subcommand("list", "Show the setups: active, start-up, how many");
    AddCommonOptions(*list, context, true);
    list->callback([&context] {
        auto quil = context.Connect();
        const auto active = quil->GetActiveSetup();
        const nlohmann::json result = {{"numStorages", quil->GetParameterSetupMeta()},
                                       {"active", active.active},
                                       {"saved", active.saved},
                                       {"startup", quil->GetStartupSetup()}};
        if (context.json) {
            *context.out << result.dump() << "\n";
            return;
        }
        *context.out << "setups:  " << result["numStorages"] << "\n"
                     << "active:  " << active.active
                     << (active.saved ? "" : " (changed since stored)") << "\n"
                     << "startup: " << result["startup"] << "\n";
    });

    auto* activate = setup->add_subcommand("activate", "Make setup N the active one");
    AddCommonOptions(*activate, context, false);
    activate->add_option("number", number, "Setup number")->required();
    activate->callback([&context] {
        context.Connect()->SetActiveSetup(number);
        *context.out << "setup " << number << " is active\n";
    });

    auto* store = setup->add_subcommand("store", "Store the current settings into setup N");
    AddCommonOptions(*store, context, false);
    store->add_option("number", number, "Setup number")->required();
    store->callback([&context] {
        context.Connect()->StoreToSetup(number);
        *context.out << "settings stored into setup " << number << "\n";
    });

    auto* reset = setup->add_subcommand("reset", "Reset all settings");
    AddCommonOptions(*reset, context, false);
    reset->callback([&context] {
        context.Connect()->AllSettingsReset();
        *context.out << "all settings reset\n";
    });
}

}  // namespace QuilTool

// quil setup: the sensor's stored parameter setups.
#include "Commands.h"
#include "NamedSettings.h"

#include <quil/Json.h>

#include <CLI/CLI.hpp>

namespace QuilTool {

void CheckSetupNumber(Varkon::QUILApi::Quil& quil, uint32_t number) {
    CheckMemberValue(quil, "startup-setup", "numSetup", "the setup number", number);
}

void AddSetupCommand(CLI::App& app, Context& context) {
    static uint32_t number = 0;
    static bool resetNetwork = false;

    auto* setup = app.add_subcommand("setup", "List, activate, store or reset parameter setups");
    setup->require_subcommand(1);
    SetExamples(*setup, {"quil setup list"});

    auto* list = setup->add_subcommand("list", "Show the setups: active, start-up, how many");
    SetExamples(*list, {"quil setup list --json"});
    AddCommonOptions(*list, context);
    list->callback([&context] {
        auto quil = context.Connect();
        const auto active = quil->GetActiveSetup();
        const uint32_t storages = quil->GetParameterSetupMeta();
        const uint32_t startup = quil->GetStartupSetup();
        context.Print({{"numStorages", storages},
                       {"active", active.active},
                       {"saved", active.saved},
                       {"startup", startup}},
                      "setups:  " + std::to_string(storages) +
                          "\nactive:  " + std::to_string(active.active) +
                          (active.saved ? "" : " (changed since stored)") +
                          "\nstartup: " + std::to_string(startup) + "\n");
    });

    auto* activate = setup->add_subcommand(
        "activate",
        "Make setup N the active one; its stored settings replace the current ones (asks first "
        "when these hold changes not stored)");
    SetExamples(*activate, {"quil setup activate 1 --yes --role maintenance"});
    AddCommonOptions(*activate, context);
    AddConfirmOption(*activate, context);
    activate->add_option("number", number, "Setup number")->required();
    activate->callback([&context] {
        auto quil = context.Connect();
        CheckSetupNumber(*quil, number);
        const auto active = quil->GetActiveSetup();
        if (!active.saved) {
            context.Confirm("Setup " + std::to_string(active.active) +
                                " has changes that are not stored; discard them and activate "
                                "setup " +
                                std::to_string(number) + "?",
                            "setup " + std::to_string(active.active) +
                                " has changes that are not stored (keep them with `quil setup "
                                "store " +
                                std::to_string(active.active) + "`), activating setup " +
                                std::to_string(number) + " discards them");
            context.ExpectAnswers();
        }
        quil->SetActiveSetup(number);
        context.Print({{"active", number}}, "setup " + std::to_string(number) + " is active\n");
    });

    auto* store = setup->add_subcommand("store", "Store the current settings into setup N");
    SetExamples(*store, {"quil setup store 1 --role maintenance"});
    AddCommonOptions(*store, context);
    store->add_option("number", number, "Setup number")->required();
    store->callback([&context] {
        auto quil = context.Connect();
        CheckSetupNumber(*quil, number);
        quil->StoreToSetup(number);
        context.Print({{"stored", number}},
                      "settings stored into setup " + std::to_string(number) + "\n");
    });

    auto* reset = setup->add_subcommand(
        "reset",
        "Reset every setting to its factory value (asks first); the network settings are kept "
        "unless --network is given, so that the sensor stays reachable");
    SetExamples(*reset, {"quil setup reset --yes --role maintenance"});
    AddCommonOptions(*reset, context);
    AddConfirmOption(*reset, context);
    reset->add_flag("--network", resetNetwork, "Reset the network settings too");
    reset->callback([&context] {
        context.Confirm("Reset every setting of the sensor at " + context.host +
                            (resetNetwork ? ", its network address included?" : "?"),
                        "setup reset changes every setting of the sensor");
        auto quil = context.Connect();
        const auto network = quil->GetNetwork();
        quil->AllSettingsReset();
        const bool keep = !resetNetwork && !(quil->GetNetwork() == network);
        if (keep) {
            try {
                quil->SetNetwork(network);
            } catch (const std::exception& e) {
                throw std::runtime_error(
                    "every setting was reset, but the network settings could not be put back: " +
                    Explain(e, context.Failures()));
            }
        }
        context.Print({{"reset", true}, {"networkKept", !resetNetwork}},
                      std::string("all settings reset") +
                          (resetNetwork ? "" : "; the network settings were kept") + "\n");
    });
}

}  // namespace QuilTool

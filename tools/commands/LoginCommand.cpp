// quil login: checks that a role can be taken with a password.
#include "Commands.h"

#include <CLI/CLI.hpp>

namespace QuilTool {

void AddLoginCommand(CLI::App& app, Context& context) {
    auto* command = app.add_subcommand(
        "login",
        "Take a role and give it back (checks the password; other commands take a role "
        "with --role)");
    SetExamples(*command, {"QUIL_PASSWORD=maintenance quil login maintenance"});
    AddCommonOptions(*command, context);
    command->remove_option(command->get_option("--role"));
    command->add_option("role", context.role, "Role to take: operator or maintenance")->required();
    command->callback([&context] {
        auto quil = context.Connect();
        quil->Logout();
        quil->Disconnect();
        context.Print({{"role", context.role}}, "logged in as " + context.role + "\n");
    });
}

}  // namespace QuilTool

// quil login: checks that a role can be taken with a password.
#include "Commands.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace QuilTool {

void AddLoginCommand(CLI::App& app, Context& context) {
    auto* command = app.add_subcommand(
        "login",
        "Take a role and give it back (checks the password; other commands take a role "
        "with --role and --password)");
    command->add_option("--host", context.host, "Address of the sensor")->capture_default_str();
    command->add_option("role", context.role, "Role to take (e.g. admin)")->required();
    command->add_option("--password", context.password, "Password of the role");
    command->callback([&context] {
        auto quil = context.Connect();
        quil->Logout();
        quil->Disconnect();
        *context.out << "logged in as " << context.role << "\n";
    });
}

}  // namespace QuilTool

#include "Context.h"

#include <CLI/CLI.hpp>

namespace QuilTool {

std::unique_ptr<Varkon::QUILApi::Quil> Context::Connect(unsigned short udpPort) const {
    auto quil = Varkon::QUILApi::Quil::Create(host, udpPort);
    quil->Connect();
    if (!role.empty()) {
        quil->Login(role, password);
    }
    return quil;
}

void AddCommonOptions(CLI::App& command, Context& context, bool withJson) {
    command.add_option("--host", context.host, "Address of the sensor")->capture_default_str();
    command.add_option("--role", context.role, "Role to take before the command (e.g. admin)");
    command.add_option("--password", context.password, "Password of the role");
    if (withJson) {
        command.add_flag("--json", context.json, "Machine-readable output (JSON)");
    }
}

}  // namespace QuilTool

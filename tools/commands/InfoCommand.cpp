// quil info: who the sensor is.
#include "Commands.h"
#include "RecordJson.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace QuilTool {

void AddInfoCommand(CLI::App& app, Context& context) {
    auto* command = app.add_subcommand("info", "Show the sensor's identity");
    AddCommonOptions(*command, context, true);
    command->callback([&context] {
        const auto identity = context.Connect()->GetSensorMetaData();
        auto& out = *context.out;
        if (context.json) {
            out << nlohmann::json(identity).dump() << "\n";
            return;
        }
        out << "vendor:      " << identity.vendorName << "\n"
            << "type:        " << identity.sensorType << "\n"
            << "serial:      " << identity.serialNumber << "\n"
            << "version:     " << identity.aggregateVersion << "\n"
            << "controllers: " << identity.controllerVersions << "\n";
    });
}

}  // namespace QuilTool

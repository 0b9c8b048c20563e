// quil info: who the sensor is.
#include "Commands.h"

#include <quil/Json.h>

#include <CLI/CLI.hpp>

namespace QuilTool {

void AddInfoCommand(CLI::App& app, Context& context) {
    auto* command = app.add_subcommand("info", "Show the sensor's identity");
    SetExamples(*command, {"quil info"});
    AddCommonOptions(*command, context);
    command->callback([&context] {
        const auto identity = context.Connect()->GetSensorMetaData();
        context.Print(identity, "vendor:      " + identity.vendorName +
                                    "\ntype:        " + identity.sensorType +
                                    "\nserial:      " + identity.serialNumber +
                                    "\nversion:     " + identity.aggregateVersion +
                                    "\ncontrollers: " + identity.controllerVersions + "\n");
    });
}

}  // namespace QuilTool

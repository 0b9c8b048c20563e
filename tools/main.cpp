// quil: the command-line tool for the sensor.
#include "Commands.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    QuilTool::Context context;
    context.out = &std::cout;
    context.err = &std::cerr;

    CLI::App app{"quil: configure the laser profile sensor, read its data and capture its stream"};
    app.require_subcommand(1);
    QuilTool::AddInfoCommand(app, context);
    QuilTool::AddSettingCommands(app, context);
    QuilTool::AddBackupCommands(app, context);
    QuilTool::AddSetupCommand(app, context);
    QuilTool::AddLoginCommand(app, context);
    QuilTool::AddDataCommands(app, context);
    QuilTool::AddStreamCommand(app, context);
    QuilTool::AddPlotCommand(app, context);
    QuilTool::AddDemoCommand(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        std::cerr << "quil: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

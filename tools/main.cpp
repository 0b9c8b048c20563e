// quil: the command-line tool for the sensor.
#include "Commands.h"
#include "Failure.h"
#include "Interruption.h"

#include <quil/Quil.h>

#include <CLI/CLI.hpp>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <iostream>

namespace {

// "quil stream": the subcommands that were recognised before a usage error.
std::string CommandPath(const CLI::App& app) {
    std::string path = "quil";
    const CLI::App* at = &app;
    while (at != nullptr) {
        const auto parsed = at->get_subcommands();
        at = parsed.empty() ? nullptr : parsed.front();
        if (at != nullptr) {
            path += " " + at->get_name();
        }
    }
    return path;
}

const char* const kFooter =
    "Environment:\n"
    "  QUIL_HOST       the sensor's address when --host is not given\n"
    "  QUIL_PASSWORD   the password for --role when neither --password nor --password-file is "
    "given\n"
    "  QUIL_PORT       the local UDP port of stream and plot heightmap when --port is not given\n"
    "\n"
    "Exit status:\n"
    "  0    success, also when the reader of the output went away (quil profile | head -1)\n"
    "  1    failure (one line on standard error says why)\n"
    "  2    usage: the command line is wrong, or a destructive command lacks --yes\n"
    "  3    a capture lost data (unless --allow-loss)\n"
    "  130  interrupted by SIGINT, SIGTERM or SIGHUP, after the sensor was put back\n"
    "\n"
    "Example:\n"
    "  quil get exposure-time --json";

int Fail(const std::exception& failure, const QuilTool::Context& context) {
    if (dynamic_cast<const QuilTool::OutputClosed*>(&failure)) {
        return QuilTool::kSuccess;  // the reader has what it wanted; nothing failed
    }
    std::cerr << "quil: " << QuilTool::Explain(failure, context.Failures()) << "\n";
    return QuilTool::ExitStatusOf(failure);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (quil profile | head) ends a command as a failed write, which
    // stops it as a normal end after the sensor was put back, never by the signal.
    std::signal(SIGPIPE, SIG_IGN);
    QuilTool::Context context;
    context.out = &std::cout;
    context.err = &std::cerr;

    CLI::App app{"quil: configure the laser profile sensor, read its data and capture its stream"};
    app.name("quil");
    app.require_subcommand(1);
    app.set_version_flag("--version", "quil " + Varkon::QUILApi::Quil::Version());
    app.set_help_all_flag("--help-all", "Print the help of every command and exit");
    app.footer(kFooter);
    QuilTool::AddInfoCommand(app, context);
    QuilTool::AddSettingCommands(app, context);
    QuilTool::AddBackupCommands(app, context);
    QuilTool::AddSetupCommand(app, context);
    QuilTool::AddLoginCommand(app, context);
    QuilTool::AddDataCommands(app, context);
    QuilTool::AddStreamCommand(app, context);
    QuilTool::AddRecordCommands(app, context);
    QuilTool::AddPlotCommand(app, context);
    QuilTool::AddDemoCommand(app, context);
    QuilTool::AddDiscoverCommand(app, context);
    QuilTool::AddViewCommand(app, context);
    app.parse_complete_callback([&context] { context.ApplyEnvironmentFallbacks(); });

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --help-all, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        const auto rest = app.remaining();
        const bool unknownCommand =
            app.get_subcommands().empty() && !rest.empty() && rest.front().rfind("-", 0) != 0;
        std::cerr << "quil: "
                  << (unknownCommand ? "unknown command \"" + rest.front() + "\"" : e.what())
                  << "; see " << CommandPath(app) << " --help\n";
        return QuilTool::kUsage;
    } catch (const std::exception& e) {
        std::cout.flush();
        return Fail(e, context);
    }
    std::cout.flush();
    if (!std::cout) {
        // errno may no longer tell why the write failed; a pipe whose reader went away still
        // reports an error when polled.
        pollfd output{STDOUT_FILENO, 0, 0};
        if (poll(&output, 1, 0) == 1 && (output.revents & POLLERR) != 0) {
            errno = EPIPE;
        }
        try {
            QuilTool::ThrowWriteFailure("standard output");
        } catch (const std::exception& e) {
            return Fail(e, context);
        }
    }
    return QuilTool::kSuccess;
}

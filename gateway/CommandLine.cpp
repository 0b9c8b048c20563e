#include "CommandLine.h"

#include <stdexcept>

namespace Varkon::QuilGateway {

std::string Usage() {
    return "Usage: quil-gateway [--check] FILE\n"
           "  or:  quil-gateway --version\n"
           "Streams the sensors named in the configuration FILE to an MQTT broker, until SIGTERM\n"
           "or SIGINT; SIGHUP reads FILE again.\n"
           "\n"
           "Options:\n"
           "  --check    only check FILE, connecting to nothing\n"
           "  --version  print the version\n"
           "  --help     print this help\n"
           "\n"
           "Exit status:\n"
           "  0  stopped by SIGTERM or SIGINT, every sensor's output put back\n"
           "  1  cannot run\n"
           "  2  the command line or the configuration is wrong (nothing was started)\n";
}

Invocation ParseCommandLine(const std::vector<std::string>& arguments) {
    Invocation invocation;
    std::vector<std::string> files;
    for (const auto& argument : arguments) {
        if (argument == "--version") {
            invocation.action = Invocation::Action::Version;
        } else if (argument == "--help" || argument == "-h") {
            invocation.action = Invocation::Action::Help;
        } else if (argument == "--check") {
            invocation.action = Invocation::Action::Check;
        } else if (argument.size() > 1 && argument[0] == '-') {
            throw std::invalid_argument("unknown option " + argument);
        } else {
            files.push_back(argument);
        }
    }
    const bool needsFile = invocation.action == Invocation::Action::Run ||
                           invocation.action == Invocation::Action::Check;
    if (needsFile && files.size() != 1) {
        throw std::invalid_argument("expected one configuration file");
    }
    if (!needsFile && !files.empty()) {
        throw std::invalid_argument("unexpected argument " + files.front());
    }
    if (needsFile) {
        invocation.configurationPath = files.front();
    }
    return invocation;
}

}  // namespace Varkon::QuilGateway

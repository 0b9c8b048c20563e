// What quil-gateway is asked to do by its arguments. Credentials are never among them.
#pragma once

#include <string>
#include <vector>

namespace Varkon::QuilGateway {

struct Invocation {
    enum class Action { Run, Check, Version, Help } action = Action::Run;
    std::string configurationPath;
};

/// The invocation that `arguments` (without the program name) ask for.
/// @throws std::invalid_argument with a one-line reason when they ask for nothing sensible.
Invocation ParseCommandLine(const std::vector<std::string>& arguments);

/// The usage text for --help.
std::string Usage();

}  // namespace Varkon::QuilGateway

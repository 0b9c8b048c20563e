// Reading and checking a gateway's configuration file (YAML).
#pragma once

#include "Configuration.h"

#include <stdexcept>
#include <string>

namespace Varkon::QuilGateway {

/// A configuration that cannot be used: "<file>:<line>: <key>: <reason>", the key as a path
/// such as "sensors[1].udp_port" (the line is the file's first when no key is concerned).
class ConfigurationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The configuration in `path`, with every password file read.
/// @throws ConfigurationError for the first problem found.
Configuration LoadConfiguration(const std::string& path);

}  // namespace Varkon::QuilGateway

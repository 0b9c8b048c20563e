// Reading and checking a gateway's configuration file (YAML).
#pragma once

#include "Configuration.h"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace Varkon::QuilGateway {

/// What a configuration may hold at most (gateway/README.md tells them).
/// @{
constexpr std::size_t kMaxConfigurationFileBytes = 1 << 20;
constexpr std::size_t kMaxSettingsFileBytes = 1 << 20;
constexpr std::size_t kMaxNameLength = 100;   // group, node, sensor and role names
constexpr std::size_t kMaxHostLength = 255;   // broker.host, a sensor's address
constexpr std::size_t kMaxPathLength = 4096;  // files and folders
constexpr std::size_t kMaxTextLength = 1024;  // any other text
constexpr std::size_t kMaxListLength = 64;    // http_allowed_hosts, http_allowed_origins
/// @}

/// A configuration that cannot be used: "<file>:<line>: <key>: <reason>", the key as a path
/// such as "sensors[1].udp_port" (the line is the file's first when no key is concerned).
class ConfigurationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// What is checked beyond reading: `Folders` also refuses a black box folder that this process
/// could neither write in nor make (as --check does: the service makes its folders when it runs,
/// and writes them as another user).
enum class ConfigurationChecks { Files, Folders };

/// The configuration in `path`, with every password file and settings document read; every file
/// read is a regular file within its cap (SmallFile.h).
/// @throws ConfigurationError for the first problem found.
Configuration LoadConfiguration(const std::string& path,
                                ConfigurationChecks checks = ConfigurationChecks::Files);

}  // namespace Varkon::QuilGateway

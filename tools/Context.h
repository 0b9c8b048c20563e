#pragma once

// What every command of the tool shares: the global options and the way to reach the sensor.

#include <quil/Quil.h>

#include <iosfwd>
#include <memory>
#include <string>

namespace CLI {
class App;
}

namespace QuilTool {

/// Where the virtual sensor listens when started without options.
inline constexpr const char* kDefaultHost = "127.0.0.1";

struct Context {
    std::string host = kDefaultHost;
    std::string role;      // taken after connecting, when given
    std::string password;  // for `role`
    bool json = false;     // machine-readable output

    std::ostream* out;
    std::ostream* err;

    /// A client of `host`, connected, with `role` taken when one was given. `udpPort` is the
    /// local port of the measurement stream (0 when the command does not stream).
    std::unique_ptr<Varkon::QUILApi::Quil> Connect(unsigned short udpPort = 0) const;
};

/// Adds the options every subcommand understands: --host, --role, --password, --json.
void AddCommonOptions(CLI::App& command, Context& context, bool withJson);

}  // namespace QuilTool

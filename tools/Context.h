#pragma once

// What every command of the tool shares: the global options, the way to reach the sensor, and
// the way to print a command's result.

#include "Failure.h"
#include "Watchdog.h"

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <memory>
#include <string>

namespace CLI {
class App;
}

namespace QuilTool {

/// Where the virtual sensor listens when started without options.
inline constexpr const char* kDefaultHost = "127.0.0.1";
/// The version of the documents that --json prints; raised when a document changes shape.
inline constexpr int kJsonSchema = 1;

struct Context {
    std::string host = kDefaultHost;  // --host, else QUIL_HOST
    std::string role;                 // taken after connecting, when given
    std::string password;             // --password
    std::string passwordFile;         // --password-file; "-" is standard input
    double timeoutSeconds = 10;       // --timeout
    std::string localAddress;         // --local-address: where the stream is sent
    bool json = false;                // machine-readable output
    bool yes = false;                 // --yes: destructive commands need no confirmation

    std::ostream* out;
    std::ostream* err;
    Watchdog watchdog;

    /// A client of `host`, connected, with `role` taken when one was given. `udpPort` is the
    /// local port of the measurement stream (0 when the command does not stream). Arms the
    /// watchdog for the time limit, and limits each of the client's requests to it as well.
    std::unique_ptr<Varkon::QUILApi::Quil> Connect(unsigned short udpPort = 0);

    /// The password for `role`: --password, else the first line of --password-file, else
    /// QUIL_PASSWORD; empty when none is given.
    std::string Password() const;

    /// Restarts the time limit for the sensor's answers, with the message the tool dies with.
    void ExpectAnswers(const std::string& note = {});
    std::chrono::milliseconds Timeout() const;

    /// Prints a command's result: `document` with its "schema" as one JSON document under
    /// --json, else `text` (printed as it is).
    void Print(nlohmann::json document, const std::string& text) const;
    /// What Print prints.
    std::string Render(nlohmann::json document, const std::string& text) const;

    /// Asks on the terminal whether `question` (e.g. "Reset every setting?") may go ahead, unless
    /// --yes was given. @throws UsageError "<refusal>; confirm with --yes" when standard input is
    /// not a terminal, and std::runtime_error "not confirmed" when the answer is not yes.
    void Confirm(const std::string& question, const std::string& refusal) const;

    FailureContext Failures() const { return {host, role}; }
};

/// Adds the options every subcommand understands: --host, --role, --password, --password-file,
/// --timeout and --json.
void AddCommonOptions(CLI::App& command, Context& context);
/// Adds --local-address, for commands that receive the stream.
void AddStreamOptions(CLI::App& command, Context& context);
/// Adds --yes, for commands that ask before they change much.
void AddConfirmOption(CLI::App& command, Context& context);
/// Sets the command's help footer to its examples, one per line.
void SetExamples(CLI::App& command, std::initializer_list<const char*> examples);

}  // namespace QuilTool

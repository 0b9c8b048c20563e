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
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

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
    unsigned short streamPort = 0;    // the local UDP port of the stream, once connected for it

    std::ostream* out;
    std::ostream* err;
    Watchdog watchdog;

    /// A client of `host`, connected, with `role` taken when one was given. `udpPort` is the
    /// local port of the measurement stream (0 when the command does not stream). Arms the
    /// watchdog for the time limit, and limits each of the client's requests to it as well.
    std::unique_ptr<Varkon::QUILApi::Quil> Connect(unsigned short udpPort = 0);

    /// The password for `role`: --password, else the first line of --password-file, else
    /// QUIL_PASSWORD, else one typed on the terminal. @throws UsageError when none is given
    /// and standard input is no terminal.
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
    /// not a terminal, and UsageError "not confirmed" when the answer is not yes.
    void Confirm(const std::string& question, const std::string& refusal) const;

    FailureContext Failures() const { return {host, role, streamPort}; }

    /// Lets `option` of `command` take the value of the environment variable `variable` when the
    /// command line does not give it. Returns `option`.
    CLI::Option* FallBackOnEnvironment(CLI::App& command, CLI::Option* option,
                                       const char* variable);
    /// Gives the options of the commands that were parsed their fallbacks where the command line
    /// did not give them; runs once parsing is complete, before the command does.
    void ApplyEnvironmentFallbacks() const;

private:
    // CLI11's own fallback (envname) fills the options of every subcommand, parsed or not, and
    // all subcommands bind --host to the one `host` above: the fallback of a command that was not
    // even run overwrote the address given on the command line.
    struct EnvironmentFallback {
        CLI::App* command;
        CLI::Option* option;
        const char* variable;
    };
    std::vector<EnvironmentFallback> environmentFallbacks;
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

#pragma once

// How the tool fails: the kinds of failure that its exit status tells apart, and the one line of
// words that it prints for any failure.

#include <exception>
#include <stdexcept>
#include <string>

namespace QuilTool {

/// The tool's exit statuses.
enum ExitStatus : int {
    kSuccess = 0,
    kFailure = 1,       // the command could not be carried out
    kUsage = 2,         // the command line is wrong (nothing was changed)
    kDataLost = 3,      // a capture lost data (unless --allow-loss)
    kInterrupted = 130  // a signal ended the command
};

/// A command line that the tool cannot carry out as given: an unknown option, a value that does
/// not fit a setting, a destructive command without confirmation.
struct UsageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

/// A value that does not fit a setting, in words: what was given, what was expected.
struct InvalidValue : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

/// A capture that completed but lost data; its summary was printed.
struct DataLost : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// SIGINT, SIGTERM or SIGHUP ended the command after the sensor was put back.
struct Interrupted : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The reader of standard output went away (quil profile | head -1): the command ends after the
/// sensor was put back, as a normal end, in silence and with exit status 0.
struct OutputClosed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// What the user needs to know to translate a refusal of the sensor.
struct FailureContext {
    std::string host;
    std::string role;            // the role asked for with --role; empty: none
    unsigned short udpPort = 0;  // the local UDP port of the stream; 0: none
};

/// The text after "quil: " for `failure`. The library's texts for refusals of the sensor
/// (wrong password, role taken, role not allowed, value refused, no answer) are put in words;
/// others pass unchanged.
std::string Explain(const std::exception& failure, const FailureContext& context);

/// The exit status for `failure`.
int ExitStatusOf(const std::exception& failure);

}  // namespace QuilTool

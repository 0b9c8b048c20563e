#pragma once

// Signals while the sensor is changed: they are recorded, never acted on inside the handler, so
// that the command puts the sensor back before the tool exits.

#include <csignal>
#include <string>

namespace QuilTool {

/// While it lives, SIGINT, SIGTERM and SIGHUP only record which of them came, and SIGPIPE is
/// ignored, so that a write to a closed pipe fails with EPIPE instead of ending the tool. A
/// command that changed the sensor calls ThrowIfInterrupted at its safe points, puts the sensor
/// back and ends with exit status 130. The dispositions found at construction come back on
/// destruction. Main thread only; guards may nest.
class InterruptionGuard {
public:
    InterruptionGuard();
    ~InterruptionGuard();
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;

    /// The signal recorded since the outermost guard was made; 0 when none.
    static int Received();
    /// @throws Interrupted naming the signal, when one was recorded.
    static void ThrowIfInterrupted();

private:
    struct sigaction previous[4];
};

/// For a write to `destination` that failed: @throws OutputClosed when it failed with EPIPE (the
/// reader went away), else std::runtime_error "cannot write <destination>".
[[noreturn]] void ThrowWriteFailure(const std::string& destination);

}  // namespace QuilTool

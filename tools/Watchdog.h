#pragma once

// The tool's time limit for the sensor's answers (--timeout).

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace QuilTool {

/// Ends the tool with exit status 1 and a message of one line when a phase of talking to the
/// sensor takes longer than its limit: the library's own limits (10 s per request, 30 s for the
/// handshake) would keep a user waiting without a word. Arm starts a phase (and restarts the
/// clock), Disarm ends it, e.g. while a capture waits for data under its own limit.
///
/// Its thread lives from the first Arm to destruction. When it fires, it writes the message with
/// write(2) and calls _exit(1): the main thread is blocked inside a request then, and nothing it
/// holds can be released or put back anyway. Arm and Disarm may be called from any thread.
class Watchdog {
public:
    Watchdog() = default;
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    /// Fires `limit` from now with "quil: <message>", unless armed again or disarmed before.
    void Arm(std::chrono::milliseconds limit, std::string message);
    void Disarm();

private:
    void Watch();

    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool stopping = false;
    std::chrono::steady_clock::time_point deadline;
    std::string message;
    std::thread thread;
};

}  // namespace QuilTool

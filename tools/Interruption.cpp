#include "Interruption.h"

#include "Failure.h"

#include <cerrno>
#include <stdexcept>
#include <string>

namespace QuilTool {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Written by the handler only; a lock-free atomic store is async-signal-safe.
volatile std::sig_atomic_t received = 0;
int depth = 0;

extern "C" void Record(int signal) {
    if (received == 0) {
        received = signal;
    }
}

}  // namespace

InterruptionGuard::InterruptionGuard() {
    if (depth++ == 0) {
        received = 0;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        struct sigaction action {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        action.sa_handler = kSignals[i] == SIGPIPE ? SIG_IGN : Record;
        sigaction(kSignals[i], &action, &previous[i]);
    }
}

InterruptionGuard::~InterruptionGuard() {
    for (std::size_t i = 0; i < 4; ++i) {
        sigaction(kSignals[i], &previous[i], nullptr);
    }
    --depth;
}

int InterruptionGuard::Received() {
    return received;
}

void InterruptionGuard::ThrowIfInterrupted() {
    if (const int signal = received) {
        const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
        throw Interrupted(std::string("interrupted by ") + name);
    }
}

void ThrowWriteFailure(const std::string& destination) {
    if (errno == EPIPE) {
        throw OutputClosed("the output was closed");
    }
    throw std::runtime_error("cannot write " + destination);
}

}  // namespace QuilTool

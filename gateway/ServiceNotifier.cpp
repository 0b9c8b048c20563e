#include "ServiceNotifier.h"

#include <systemd/sd-daemon.h>

namespace Varkon::QuilGateway {
namespace {

// How often the status is told when systemd asks for no watchdog.
constexpr std::chrono::seconds kStatusInterval{5};

}  // namespace

ServiceNotifier::ServiceNotifier(std::function<std::string()> status) : status(std::move(status)) {}

ServiceNotifier::~ServiceNotifier() {
    Stopping();
}

void ServiceNotifier::Ready() {
    sd_notify(0, ("READY=1\nSTATUS=" + status()).c_str());
    uint64_t watchdogUs = 0;
    const bool watchdog = sd_watchdog_enabled(0, &watchdogUs) > 0 && watchdogUs > 0;
    const std::chrono::microseconds interval =
        watchdog ? std::chrono::microseconds(watchdogUs / 2) : kStatusInterval;
    thread = std::thread([this, interval, watchdog] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!wake.wait_for(lock, interval, [&] { return stopping; })) {
            const std::string text = "STATUS=" + status();
            sd_notify(0, (watchdog ? "WATCHDOG=1\n" + text : text).c_str());
        }
    });
}

void ServiceNotifier::Stopping() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (stopping) {
            return;
        }
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) {
        thread.join();
        sd_notify(0, "STOPPING=1");
    }
}

}  // namespace Varkon::QuilGateway

#include "Watchdog.h"

#include <unistd.h>

namespace QuilTool {

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

void Watchdog::Arm(std::chrono::milliseconds limit, std::string text) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        armed = true;
        deadline = std::chrono::steady_clock::now() + limit;
        message = "quil: " + std::move(text) + "\n";
        if (!thread.joinable()) {
            thread = std::thread([this] { Watch(); });
        }
    }
    changed.notify_all();
}

void Watchdog::Disarm() {
    std::lock_guard<std::mutex> lock(mutex);
    armed = false;
}

void Watchdog::Watch() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (!armed) {
            changed.wait(lock);
        } else if (changed.wait_until(lock, deadline) == std::cv_status::timeout && armed &&
                   std::chrono::steady_clock::now() >= deadline) {
            const ssize_t written = write(STDERR_FILENO, message.data(), message.size());
            static_cast<void>(written);
            _exit(1);
        }
    }
}

}  // namespace QuilTool

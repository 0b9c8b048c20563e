// Tells systemd how the gateway is doing (a Type=notify service): READY=1 once it runs, STATUS=
// lines, WATCHDOG=1 at half the watchdog interval when the service has one, STOPPING=1 at the
// end. Does nothing outside systemd (no NOTIFY_SOCKET).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace Varkon::QuilGateway {

class ServiceNotifier {
public:
    /// `status` gives the STATUS= text, asked at every watchdog ping and status interval.
    explicit ServiceNotifier(std::function<std::string()> status);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    void Ready();
    void Stopping();

private:
    std::function<std::string()> status;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

}  // namespace Varkon::QuilGateway

#pragma once

// The live view: an HTTP and WebSocket server that serves the view's page (built into the
// program) and streams to each browser what its sensors send, at most at the display rate.

#include <quil/view/SensorFeed.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Varkon::QUILApi::View {

struct ViewOptions {
    std::string address = "127.0.0.1";  ///< where the page is served; loopback unless asked
    uint16_t port = 8080;               ///< 0: any free port (see ViewServer::Port)
    std::string recordDirectory = ".";  ///< the only place recordings are written to
    double framesPerSecond = 40;        ///< how often a browser is sent what is new
    std::size_t browserBacklog = 64;    ///< messages kept per browser; the oldest go first
};

/// Counts of the web side, for the health strip and for benchmarks.
struct ViewCounters {
    uint64_t browsers = 0;               ///< connected now
    uint64_t framesPublished = 0;        ///< frames made, of all sensors
    uint64_t messagesDropped = 0;        ///< discarded from full per-browser backlogs
    uint64_t messagesNotUnderstood = 0;  ///< messages from pages that were ignored
};

class ViewServer {
public:
    /// Listens at once and starts taking the feeds' streams.
    /// @throws std::runtime_error "Cannot serve the view on <address>:<port>: <reason>".
    ViewServer(ViewOptions options, std::vector<SensorFeed> feeds);
    /// Stops serving and taking the streams (the streams themselves stay as they are).
    ~ViewServer();
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    /// The port listened on.
    uint16_t Port() const;
    /// "http://ADDRESS:PORT/".
    std::string Url() const;
    ViewCounters Counters() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace Varkon::QUILApi::View

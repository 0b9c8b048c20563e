#pragma once

// The live view: an HTTP and WebSocket server that serves the view's page (built into the
// program) and streams to each browser what its sensors send, at most at the display rate.

#include <quil/view/SensorFeed.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Varkon::QUILApi::View {

/// A program's own answer to a request that is not for the page (a gateway's health and metrics).
struct HttpAnswer {
    unsigned status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
};

struct ViewOptions {
    std::string address = "127.0.0.1";  ///< where the page is served; loopback unless asked
    uint16_t port = 8080;               ///< 0: any free port (see ViewServer::Port)
    std::string recordDirectory = ".";  ///< the only place recordings are written to
    double framesPerSecond = 40;        ///< how often a browser is sent what is new
    std::size_t browserBacklog = 64;    ///< messages kept per browser; the oldest go first
    /// Asked on the server's thread, so quickly, for every request that is not for the page,
    /// with its method ("GET") and target ("/metrics"). Nothing, or unset: "Not found.". The
    /// connection closes after the program's answer.
    std::function<std::optional<HttpAnswer>(const std::string& method, const std::string& target)>
        otherRequests;
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
    /// Listens at once and starts taking the feeds' streams; there may be no feed yet.
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

    /// Shows `feed` too, or instead of the feed of the same name; every browser is told, and
    /// one watching that sensor goes on watching it. Any thread.
    void Show(SensorFeed feed);
    /// No longer shows the feed named `name`, if one is shown. Any thread.
    void Hide(const std::string& name);

private:
    class Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace Varkon::QUILApi::View

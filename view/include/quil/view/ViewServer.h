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
    /// Connections served at once: browsers, page loads, scrapers. One beyond it closes the
    /// oldest that waits for a request (else the oldest still sending one); when all are
    /// watching browsers, the newcomer is closed. Requests must come within 10 s.
    std::size_t maxConnections = 100;
    /// Names, besides IP addresses and "localhost", under which browsers reach the server ("*":
    /// any). A request naming another host is refused (421), so that a foreign site cannot
    /// reach the server under a name of its own.
    std::vector<std::string> allowedHosts;
    /// Pages of other sites that may watch the sensors and change things ("https://dash.plant").
    /// The view's own page always may; a request from any other page is refused (403).
    std::vector<std::string> allowedOrigins;
    /// Recordings started from a page: at most one at a time and one start in this interval.
    double recordingIntervalSeconds = 5;
    /// The most that the view's recordings ("quil-view-*" in recordDirectory) may take together;
    /// a recording that reaches it is stopped, and none starts beyond it.
    uint64_t recordingBudgetBytes = uint64_t{1} << 30;
};

/// Counts of the web side, for the health strip and for benchmarks.
struct ViewCounters {
    uint64_t browsers = 0;               ///< connected now
    uint64_t framesPublished = 0;        ///< frames made, of all sensors
    uint64_t messagesDropped = 0;        ///< discarded from full per-browser backlogs
    uint64_t messagesNotUnderstood = 0;  ///< messages from pages that were ignored
    uint64_t connections = 0;            ///< open now, browsers included
    uint64_t connectionsEvicted = 0;     ///< closed to make room for a newer one
    uint64_t connectionsRefused = 0;     ///< closed at once: every slot held a browser
    uint64_t requestsRefused = 0;        ///< from foreign pages or under foreign host names
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

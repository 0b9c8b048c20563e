#include <quil/view/ViewServer.h>

#include "ConnectionSlots.h"
#include "FeedPump.h"
#include "PageMessage.h"
#include "PageRecordings.h"
#include "RequestPolicy.h"
#include "WebSessions.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace Varkon::QUILApi::View {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// How long the server waits before accepting again after accepting failed, so that running out
// of descriptors does not keep a core busy retrying.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// How often the page's running recording is held to its budget.
constexpr auto kBudgetCheck = std::chrono::seconds(1);

RecordingLimits LimitsOf(const ViewOptions& options) {
    RecordingLimits limits;
    limits.directory = options.recordDirectory;
    limits.interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::max(0.0, options.recordingIntervalSeconds)));
    limits.budgetBytes = options.recordingBudgetBytes;
    return limits;
}

}  // namespace

class ViewServer::Impl : public SessionHub {
public:
    Impl(ViewOptions options, std::vector<SensorFeed> feeds)
        : options(std::move(options)),
          acceptor(io),
          acceptPause(io),
          budgetCheck(io),
          slots(this->options.maxConnections),
          recordings(LimitsOf(this->options)) {
        try {
            const tcp::endpoint endpoint(asio::ip::make_address(this->options.address),
                                         this->options.port);
            acceptor.open(endpoint.protocol());
            acceptor.set_option(asio::socket_base::reuse_address(true));
            acceptor.bind(endpoint);
            acceptor.listen();
            port = acceptor.local_endpoint().port();
            policy.emplace(port, this->options.allowedHosts, this->options.allowedOrigins);
        } catch (const std::exception& error) {
            throw std::runtime_error("Cannot serve the view on " + this->options.address + ":" +
                                     std::to_string(this->options.port) + ": " + error.what());
        }
        Accept();
        ioThread = std::thread([this] { io.run(); });
        for (SensorFeed& feed : feeds) {
            Show(std::move(feed));
        }
        if (feeds.empty()) {
            const std::lock_guard<std::mutex> lock(shownMutex);
            TellBrowsers();
        }
    }

    ~Impl() override {
        {
            const std::lock_guard<std::mutex> lock(shownMutex);
            for (const auto& sensor : shown) {
                sensor->pump.reset();
            }
        }
        asio::post(io, [this] {
            boost::system::error_code ignored;
            acceptor.close(ignored);
            acceptPause.cancel();
            budgetCheck.cancel();
            sessions.clear();
            io.stop();
        });
        ioThread.join();
    }

    uint16_t Port() const { return port; }
    const std::string& Address() const { return options.address; }

    ViewCounters Counters() const {
        ViewCounters counters;
        counters.browsers = browsers;
        counters.framesPublished = framesPublished;
        counters.messagesDropped = messagesDropped;
        counters.messagesNotUnderstood = notUnderstood;
        counters.connections = connections;
        counters.connectionsEvicted = connectionsEvicted;
        counters.connectionsRefused = connectionsRefused;
        counters.requestsRefused = requestsRefused;
        return counters;
    }

    void Show(SensorFeed feed) {
        std::shared_ptr<Shown> replaced;
        {
            const std::lock_guard<std::mutex> lock(shownMutex);
            auto sensor = std::make_shared<Shown>(std::move(feed));
            const auto same = FindByName(sensor->feed.name);
            sensor->id = same == shown.end() ? nextId++ : (*same)->id;
            Shown* const target = sensor.get();
            sensor->pump = std::make_unique<FeedPump>(
                sensor->feed, options.framesPerSecond,
                [this, target](nlohmann::json frame) { Publish(*target, std::move(frame)); });
            if (same == shown.end()) {
                shown.push_back(std::move(sensor));
            } else {
                replaced = std::exchange(*same, std::move(sensor));
            }
            TellBrowsers();
        }
        // Its pump may be in the middle of a frame: joined here, outside the lock.
        replaced.reset();
    }

    void Hide(const std::string& name) {
        std::shared_ptr<Shown> hidden;
        {
            const std::lock_guard<std::mutex> lock(shownMutex);
            const auto found = FindByName(name);
            if (found == shown.end()) {
                return;
            }
            hidden = std::move(*found);
            shown.erase(found);
            TellBrowsers();
        }
        hidden.reset();
    }

    void Join(const std::shared_ptr<WebSocketSession>& session) override {
        sessions.insert(session);
        browsers = sessions.size();
        session->sensor = firstSensor;
        if (hello) {
            session->SendHello(hello);
        }
        UpdateWatched();
    }

    void Leave(const std::shared_ptr<WebSocketSession>& session) override {
        sessions.erase(session);
        browsers = sessions.size();
        UpdateWatched();
    }

    void Command(WebSocketSession& session, const std::string& text) override {
        const PageMessage message = ReadPageMessage(text);
        const std::shared_ptr<Shown> sensor =
            message.kind == PageMessage::Kind::NotUnderstood ? nullptr : FindById(message.sensor);
        if (sensor && message.kind == PageMessage::Kind::Select) {
            session.sensor = sensor->id;
            UpdateWatched();
        } else if (sensor && sensor->feed.recording && message.kind != PageMessage::Kind::Select) {
            Record(session, *sensor, message.kind == PageMessage::Kind::RecordStart);
        } else {
            ++notUnderstood;
        }
    }

    std::size_t BacklogCapacity() const override { return options.browserBacklog; }
    void CountDropped() override { ++messagesDropped; }

    std::optional<HttpAnswer> Answer(const std::string& method,
                                     const std::string& target) override {
        if (!options.otherRequests) {
            return std::nullopt;
        }
        return options.otherRequests(method, target);
    }

    const RequestPolicy& Policy() const override { return *policy; }
    void Open(const std::shared_ptr<Connection>& connection) override {
        slots.Add(connection);
        connections = slots.Open();
    }
    void CountRefused() override { ++requestsRefused; }

private:
    // One sensor on the page. The pump goes first, so that no frame of it is made any more
    // once the rest goes.
    struct Shown {
        explicit Shown(SensorFeed feed) : feed(std::move(feed)) {}
        ~Shown() { pump.reset(); }

        uint64_t id = 0;  // the page's name for it; kept when its feed is replaced
        SensorFeed feed;
        std::mutex recordingLock;
        std::unique_ptr<FeedPump> pump;
    };

    // Need shownMutex.
    std::vector<std::shared_ptr<Shown>>::iterator FindByName(const std::string& name) {
        return std::find_if(shown.begin(), shown.end(),
                            [&name](const auto& sensor) { return sensor->feed.name == name; });
    }

    std::shared_ptr<Shown> FindById(uint64_t id) {
        const std::lock_guard<std::mutex> lock(shownMutex);
        for (const auto& sensor : shown) {
            if (sensor->id == id) {
                return sensor;
            }
        }
        return nullptr;
    }

    // Needs shownMutex: a new hello for every browser, made now, sent on the I/O thread. A
    // browser whose sensor went is shown the first.
    void TellBrowsers() {
        nlohmann::json sensors = nlohmann::json::array();
        std::set<uint64_t> ids;
        for (const auto& sensor : shown) {
            nlohmann::json described = FrameBuilder(sensor->feed, FeedPump::kColumns).Describe();
            described["id"] = sensor->id;
            sensors.push_back(std::move(described));
            ids.insert(sensor->id);
        }
        auto text = std::make_shared<const std::string>(nlohmann::json{
            {"type", "hello"},
            {"sensors", sensors},
            {"framesPerSecond", options.framesPerSecond},
            {"rowsPerSecond", FrameBuilder::kRowsPerSecond}}.dump());
        const uint64_t first = shown.empty() ? 0 : shown.front()->id;
        asio::post(io, [this, text, ids = std::move(ids), first] {
            hello = text;
            firstSensor = first;
            for (const auto& session : sessions) {
                if (ids.count(session->sensor) == 0) {
                    session->sensor = first;
                }
                session->SendHello(hello);
            }
            UpdateWatched();
        });
    }

    // On the I/O thread: a sensor's inlet takes entries only while a browser watches it.
    void UpdateWatched() {
        std::set<uint64_t> watched;
        for (const auto& session : sessions) {
            watched.insert(session->sensor);
        }
        const std::lock_guard<std::mutex> lock(shownMutex);
        for (const auto& sensor : shown) {
            if (sensor->pump) {
                sensor->pump->SetWatched(watched.count(sensor->id) != 0);
            }
        }
    }

    void Accept() {
        acceptor.async_accept([this](boost::system::error_code error, tcp::socket socket) {
            if (error == asio::error::operation_aborted || !acceptor.is_open()) {
                return;
            }
            if (error) {
                // Out of descriptors, most likely: free one for the next try, a little later.
                slots.MakeRoom();
                acceptPause.expires_after(kAcceptPause);
                acceptPause.async_wait([this](boost::system::error_code waited) {
                    if (!waited) {
                        Accept();
                    }
                });
                return;
            }
            if (slots.MakeRoom()) {
                std::make_shared<HttpSession>(std::move(socket), *this)->Run();
            }
            connections = slots.Open();
            connectionsEvicted = slots.Evicted();
            connectionsRefused = slots.Refused();
            Accept();
        });
    }

    // While a page's recording runs: stopped once the view's recordings reach their budget.
    void CheckBudget() {
        budgetCheck.expires_after(kBudgetCheck);
        budgetCheck.async_wait([this](boost::system::error_code error) {
            if (error) {
                return;
            }
            const auto stopped = recordings.Enforce();
            if (!stopped) {
                CheckBudget();
                return;
            }
            const std::shared_ptr<Shown> sensor = FindByStream(stopped.get());
            if (sensor) {
                Notify(sensor->id,
                       "The recording stopped: the view's recordings reached their "
                       "budget of " +
                           recordings.Budget() + ".");
            }
        });
    }

    std::shared_ptr<Shown> FindByStream(const UdpStreaming::QuilStream* stream) {
        const std::lock_guard<std::mutex> lock(shownMutex);
        for (const auto& sensor : shown) {
            if (sensor->feed.stream.get() == stream) {
                return sensor;
            }
        }
        return nullptr;
    }

    void Notify(uint64_t sensorId, const std::string& text) {
        auto message = std::make_shared<const std::string>(
            nlohmann::json{{"type", "notice"}, {"text", text}}.dump());
        for (const auto& session : sessions) {
            if (session->sensor == sensorId) {
                session->Send(message);
            }
        }
    }

    // On the I/O thread. The file's name is the server's own choice, in the record directory.
    void Record(WebSocketSession& session, Shown& sensor, bool start) {
        SensorFeed& feed = sensor.feed;
        std::string problem;
        {
            std::lock_guard<std::mutex> lock(sensor.recordingLock);
            if (start) {
                problem = recordings.Start(feed.stream, *feed.recording,
                                           std::chrono::steady_clock::now());
                if (problem.empty()) {
                    CheckBudget();
                } else {
                    problem = "The recording was not started: " + problem + ".";
                }
            } else {
                problem = recordings.Stop(*feed.stream);
                if (!problem.empty()) {
                    problem = "The recording failed: " + problem;
                }
            }
        }
        if (!problem.empty()) {
            session.Send(std::make_shared<const std::string>(
                nlohmann::json{{"type", "notice"}, {"text", problem}}.dump()));
        }
    }

    nlohmann::json RecordingState(Shown& sensor) {
        const SensorFeed& feed = sensor.feed;
        if (!feed.recording) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(sensor.recordingLock);
        const UdpStreaming::RecordingStatus status = feed.stream->GetRecordingStatus();
        if (status.path.empty()) {
            return {{"recording", false}};
        }
        std::error_code ignored;
        const auto size = std::filesystem::file_size(status.path, ignored);
        const int64_t end = status.recording
                                ? std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count()
                                : status.endMicroseconds;
        return {{"recording", status.recording},
                {"file", std::filesystem::path(status.path).filename().string()},
                {"seconds", static_cast<double>(end - status.startMicroseconds) / 1e6},
                {"bytes", ignored ? 0 : size},
                {"datagramsDropped", status.datagramsDropped},
                {"error", status.error}};
    }

    // On the pump's thread: the frame is made into text once, for every browser.
    void Publish(Shown& sensor, nlohmann::json frame) {
        const uint64_t id = sensor.id;
        frame["sensor"] = id;
        frame["recording"] = RecordingState(sensor);
        frame["view"] = {{"browsers", browsers.load()},
                         {"notUnderstood", notUnderstood.load()},
                         {"dropped", messagesDropped.load()}};
        auto text = std::make_shared<const std::string>(frame.dump());
        ++framesPublished;
        asio::post(io, [this, id, text] {
            for (const auto& session : sessions) {
                if (session->sensor == id) {
                    session->Send(text);
                }
            }
        });
    }

    ViewOptions options;
    asio::io_context io;
    tcp::acceptor acceptor;
    asio::steady_timer acceptPause;
    asio::steady_timer budgetCheck;
    uint16_t port = 0;
    std::optional<RequestPolicy> policy;  // set once the port is known
    std::thread ioThread;
    std::mutex shownMutex;                      // guards shown and nextId
    std::vector<std::shared_ptr<Shown>> shown;  // in the chooser's order
    uint64_t nextId = 0;
    // The I/O thread's only:
    std::shared_ptr<const std::string> hello;
    uint64_t firstSensor = 0;
    std::set<std::shared_ptr<WebSocketSession>> sessions;
    ConnectionSlots slots;
    PageRecordings recordings;
    std::atomic<uint64_t> browsers{0};
    std::atomic<uint64_t> framesPublished{0};
    std::atomic<uint64_t> messagesDropped{0};
    std::atomic<uint64_t> notUnderstood{0};
    std::atomic<uint64_t> connections{0};
    std::atomic<uint64_t> connectionsEvicted{0};
    std::atomic<uint64_t> connectionsRefused{0};
    std::atomic<uint64_t> requestsRefused{0};
};

ViewServer::ViewServer(ViewOptions options, std::vector<SensorFeed> feeds)
    : impl(std::make_unique<Impl>(std::move(options), std::move(feeds))) {}

ViewServer::~ViewServer() = default;

uint16_t ViewServer::Port() const {
    return impl->Port();
}

std::string ViewServer::Url() const {
    return "http://" + impl->Address() + ":" + std::to_string(Port()) + "/";
}

ViewCounters ViewServer::Counters() const {
    return impl->Counters();
}

void ViewServer::Show(SensorFeed feed) {
    impl->Show(std::move(feed));
}

void ViewServer::Hide(const std::string& name) {
    impl->Hide(name);
}

}  // namespace Varkon::QUILApi::View

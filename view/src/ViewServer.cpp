#include <quil/view/ViewServer.h>

#include "FeedPump.h"
#include "WebSessions.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace Varkon::QUILApi::View {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// "quil-view-20261208-014502.pcap" in `directory`, numbered on when that exists.
std::filesystem::path NewRecordingPath(const std::string& directory) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::filesystem::path base =
        std::filesystem::path(directory) / ("quil-view-" + std::string(stamp));
    std::filesystem::path path = base.string() + ".pcap";
    for (int n = 2; std::filesystem::exists(path); ++n) {
        path = base.string() + "-" + std::to_string(n) + ".pcap";
    }
    return path;
}

}  // namespace

class ViewServer::Impl : public SessionHub {
public:
    Impl(ViewOptions options, std::vector<SensorFeed> feeds)
        : options(std::move(options)), acceptor(io) {
        try {
            const tcp::endpoint endpoint(asio::ip::make_address(this->options.address),
                                         this->options.port);
            acceptor.open(endpoint.protocol());
            acceptor.set_option(asio::socket_base::reuse_address(true));
            acceptor.bind(endpoint);
            acceptor.listen();
            port = acceptor.local_endpoint().port();
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
        const auto message = nlohmann::json::parse(text, nullptr, false);
        const auto field = [&message](const char* name) {
            return message.is_object() && message.contains(name) ? message.at(name)
                                                                 : nlohmann::json();
        };
        const auto type = field("type");
        const auto id = field("sensor");
        std::shared_ptr<Shown> sensor;
        if (type.is_string() && id.is_number_unsigned()) {
            sensor = FindById(id.get<uint64_t>());
        }
        if (sensor && type == "select") {
            session.sensor = sensor->id;
            UpdateWatched();
        } else if (sensor && type == "record" && sensor->feed.recording &&
                   field("action").is_string()) {
            Record(session, *sensor, field("action").get<std::string>());
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
            if (!error) {
                std::make_shared<HttpSession>(std::move(socket), *this)->Run();
            }
            Accept();
        });
    }

    // On the I/O thread. The file's name is the server's own choice, in the record directory.
    void Record(WebSocketSession& session, Shown& sensor, const std::string& action) {
        SensorFeed& feed = sensor.feed;
        std::string problem;
        {
            std::lock_guard<std::mutex> lock(sensor.recordingLock);
            if (action == "start" && !feed.stream->GetRecordingStatus().recording) {
                try {
                    feed.stream->StartRecording(NewRecordingPath(options.recordDirectory).string(),
                                                *feed.recording);
                } catch (const std::exception& error) {
                    problem = error.what();
                }
            } else if (action == "stop") {
                problem = feed.stream->StopRecording().error;
            } else if (action != "start") {
                ++notUnderstood;
            }
        }
        if (!problem.empty()) {
            session.Send(std::make_shared<const std::string>(nlohmann::json{
                {"type", "notice"},
                {"text", "The recording failed: " + problem}}.dump()));
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
    uint16_t port = 0;
    std::thread ioThread;
    std::mutex shownMutex;                      // guards shown and nextId
    std::vector<std::shared_ptr<Shown>> shown;  // in the chooser's order
    uint64_t nextId = 0;
    // The I/O thread's only:
    std::shared_ptr<const std::string> hello;
    uint64_t firstSensor = 0;
    std::set<std::shared_ptr<WebSocketSession>> sessions;
    std::atomic<uint64_t> browsers{0};
    std::atomic<uint64_t> framesPublished{0};
    std::atomic<uint64_t> messagesDropped{0};
    std::atomic<uint64_t> notUnderstood{0};
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

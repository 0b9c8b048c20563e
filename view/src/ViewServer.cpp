#include <quil/view/ViewServer.h>

#include "FeedPump.h"
#include "WebSessions.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

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
    Impl(ViewOptions options, std::vector<SensorFeed> givenFeeds)
        : options(std::move(options)),
          feeds(std::move(givenFeeds)),
          recordingLocks(feeds.size()),
          acceptor(io) {
        if (feeds.empty()) {
            throw std::invalid_argument("The view needs a sensor to show.");
        }
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
        nlohmann::json sensors = nlohmann::json::array();
        for (const SensorFeed& feed : feeds) {
            sensors.push_back(FrameBuilder(feed, FeedPump::kColumns).Describe());
        }
        hello = std::make_shared<const std::string>(nlohmann::json{
            {"type", "hello"},
            {"sensors", sensors},
            {"framesPerSecond", this->options.framesPerSecond},
            {"rowsPerSecond",
             FrameBuilder::kRowsPerSecond}}.dump());
        Accept();
        ioThread = std::thread([this] { io.run(); });
        for (std::size_t i = 0; i < feeds.size(); ++i) {
            pumps.push_back(std::make_unique<FeedPump>(
                feeds[i], this->options.framesPerSecond,
                [this, i](nlohmann::json frame) { Publish(i, std::move(frame)); }));
        }
    }

    ~Impl() override {
        pumps.clear();
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

    void Join(const std::shared_ptr<WebSocketSession>& session) override {
        sessions.insert(session);
        browsers = sessions.size();
        session->Send(hello);
    }

    void Leave(const std::shared_ptr<WebSocketSession>& session) override {
        sessions.erase(session);
        browsers = sessions.size();
    }

    void Command(WebSocketSession& session, const std::string& text) override {
        const auto message = nlohmann::json::parse(text, nullptr, false);
        const auto field = [&message](const char* name) {
            return message.is_object() && message.contains(name) ? message.at(name)
                                                                 : nlohmann::json();
        };
        const auto type = field("type");
        const auto sensor = field("sensor");
        const bool known = type.is_string() && sensor.is_number_unsigned() &&
                           sensor.get<std::size_t>() < feeds.size();
        if (known && type == "select") {
            session.sensor = sensor.get<std::size_t>();
        } else if (known && type == "record" && feeds[sensor.get<std::size_t>()].recording &&
                   field("action").is_string()) {
            Record(session, sensor.get<std::size_t>(), field("action").get<std::string>());
        } else {
            ++notUnderstood;
        }
    }

    std::size_t BacklogCapacity() const override { return options.browserBacklog; }
    void CountDropped() override { ++messagesDropped; }

private:
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
    void Record(WebSocketSession& session, std::size_t sensor, const std::string& action) {
        SensorFeed& feed = feeds[sensor];
        std::string problem;
        {
            std::lock_guard<std::mutex> lock(recordingLocks[sensor]);
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

    nlohmann::json RecordingState(std::size_t sensor) {
        if (!feeds[sensor].recording) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(recordingLocks[sensor]);
        const UdpStreaming::RecordingStatus status = feeds[sensor].stream->GetRecordingStatus();
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
    void Publish(std::size_t sensor, nlohmann::json frame) {
        frame["sensor"] = sensor;
        frame["recording"] = RecordingState(sensor);
        frame["view"] = {{"browsers", browsers.load()},
                         {"notUnderstood", notUnderstood.load()},
                         {"dropped", messagesDropped.load()}};
        auto text = std::make_shared<const std::string>(frame.dump());
        ++framesPublished;
        asio::post(io, [this, sensor, text] {
            for (const auto& session : sessions) {
                if (session->sensor == sensor) {
                    session->Send(text);
                }
            }
        });
    }

    ViewOptions options;
    std::vector<SensorFeed> feeds;
    std::vector<std::mutex> recordingLocks;
    asio::io_context io;
    tcp::acceptor acceptor;
    uint16_t port = 0;
    std::thread ioThread;
    std::shared_ptr<const std::string> hello;
    std::set<std::shared_ptr<WebSocketSession>> sessions;  // the I/O thread's only
    std::atomic<uint64_t> browsers{0};
    std::atomic<uint64_t> framesPublished{0};
    std::atomic<uint64_t> messagesDropped{0};
    std::atomic<uint64_t> notUnderstood{0};
    std::vector<std::unique_ptr<FeedPump>> pumps;
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

}  // namespace Varkon::QUILApi::View

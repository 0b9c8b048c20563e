// quil-gateway end to end: two virtual sensors, a real broker and a subscriber. Births, the
// measurement values as DDATA metrics, profile batches; a sensor that disappears and returns;
// outputs put back on SIGTERM, also after a crash; the will on a crash; the live view of the
// sensors.
#include <quil/ProfileCoordinates.h>
#include <quil/sim/VirtualSensor.h>
#include "Broker.h"
#include "Decode.h"
#include "Http.h"
#include "SparkplugTopics.h"
#include "Subscriber.h"
#include "TempDirectory.h"
#include "ViewClient.h"
#include "support/RunCommand.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

namespace Varkon::QuilGateway::Testing {
namespace {

using nlohmann::json;
using Varkon::QUILApi::Sim::VirtualSensor;
using Varkon::QUILApi::Sim::VirtualSensorOptions;
using Varkon::QUILApi::Testing::BackgroundProcess;
using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;
using Varkon::QUILApi::Testing::WaitUntil;

// Follows datagrams in the order the virtual sensor sends them: each is the next fragment of its
// block, or the first of the next block (block ids count up by one); a missing one breaks that.
struct SentInOrder {
    std::optional<uint32_t> block;
    uint16_t frames = 0;     // of a fragmented block: how many it has
    uint16_t nextFrame = 0;  // and which is due
    std::size_t datagrams = 0;

    bool Next(const std::vector<uint8_t>& bytes) {
        if (bytes.size() < 8) {
            return false;
        }
        const uint32_t id =
            bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        const uint8_t kind = bytes[4];  // 0 whole block, 1 first fragment, 2 further fragment
        const auto frame = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
        ++datagrams;
        if (!block && kind == 2) {
            return true;  // the rest of a block begun before the first piece
        }
        bool follows = true;
        if (block) {
            follows = nextFrame < frames ? id == *block && kind == 2 && frame == nextFrame
                                         : id == *block + 1 && kind != 2;
        }
        block = id;
        if (kind == 1) {
            frames = frame;
            nextFrame = 1;
        } else if (kind == 2) {
            ++nextFrame;
        } else {
            frames = nextFrame = 0;
        }
        return follows;
    }
};

// A command's payload: `count` metrics `name`, each with the text `value` (numbered from the
// second on: `value`-1, `value`-2, ...), or with the Boolean true when `value` is empty.
std::string CommandPayload(const std::string& name, const std::string& value, int count = 1) {
    Payload payload;
    for (int i = 0; i < count; ++i) {
        auto& metric = *payload.add_metrics();
        metric.set_name(name);
        if (value.empty()) {
            metric.set_datatype(11);
            metric.set_boolean_value(true);
        } else {
            metric.set_datatype(12);
            metric.set_string_value(i == 0 ? value : value + "-" + std::to_string(i));
        }
    }
    return payload.SerializeAsString();
}

// How often `text` is in `log`.
std::size_t Occurrences(const std::string& log, const std::string& text) {
    std::size_t count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        broker = std::make_unique<Broker>(TestAddress(0), TestPort(0));
        ASSERT_TRUE(broker->Ready()) << broker->Log();
        subscriber = std::make_unique<Subscriber>(broker->Address(), broker->Port(),
                                                  std::vector<std::string>{"spBv1.0/#", "quil/#"});
        ASSERT_TRUE(subscriber->WaitSubscribed(2));
        for (const char* name : {"left", "right"}) {
            StartSensor(name);
        }
        directory.Write("operator.pw", "operator\n");
        directory.Write("maintenance.pw", "maintenance\n");
        before = {{"left", Output("left")}, {"right", Output("right")}};
    }

    // The configuration of two sensors; `left` and `right` are lines added to each sensor's
    // entry, `more` further sensors.
    std::string WriteConfiguration(const std::string& left = {}, const std::string& right = {},
                                   const std::string& more = {}) {
        return directory.Write(
            "gateway.yaml",
            topLines + "broker:\n  host: " + broker->Address() +
                "\n  port: " + std::to_string(broker->Port()) +
                "\n  keepalive: 5\ngroup_id: line\nnode_id: pc\nsensors:\n"
                "  - name: left\n    address: " +
                TestAddress(1) + "\n    udp_port: " + std::to_string(TestPort(1)) +
                "\n    data_ids: [0, 1]\n    profiles_per_message: 5\n" +
                (left.empty() ? "    password_file: operator.pw\n" : left) +
                "  - name: right\n    address: " + TestAddress(2) +
                "\n    udp_port: " + std::to_string(TestPort(2)) +
                "\n    local_address: 127.0.0.1\n    data_ids: [0, 3]\n"
                "    profiles_per_message: 4\n    decimation: 2\n    compression: zstd\n" +
                (right.empty() ? "    password_file: operator.pw\n" : right) + more);
    }

    void StartGateway(const std::string& left = {}, const std::string& right = {}) {
        const std::string config = WriteConfiguration(left, right);
        KeepDescriptorsFromChildren();
        gateway = std::make_unique<BackgroundProcess>(
            QUIL_GATEWAY, std::vector<std::string>{config}, directory.Path("gateway"));
    }

    // The virtual sensors' listening sockets are not close-on-exec: a gateway started after
    // them would hold them open, and a sensor could not start again at its address.
    static void KeepDescriptorsFromChildren() {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            const int fd = std::stoi(entry.path().filename().string());
            if (fd > 2) {
                fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
            }
        }
    }

    void StartSensor(const std::string& name, uint32_t pointsPerProfile = 32) {
        VirtualSensorOptions options;
        options.address = TestAddress(name == "left" ? 1 : name == "right" ? 2 : 3);
        options.pointsPerProfile = pointsPerProfile;
        options.profileRate = 200;
        sensors.erase(name);
        sensors[name] = std::make_unique<VirtualSensor>(options);
    }

    // The gateway's metrics; its HTTP port is TestPort(3) when `topLines` names it.
    std::string Metrics() { return HttpGet(TestPort(3), "/metrics"); }
    std::string HttpPortLine() { return "http_port: " + std::to_string(TestPort(3)) + "\n"; }

    json Output(const std::string& name) const {
        return {sensors.at(name)->Read("ProcessInterfaces"),
                sensors.at(name)->Read("UDPStreamData")};
    }

    std::string Topic(SparkplugMessage type, const std::string& device = {}) const {
        return SparkplugTopic("line", type, "pc", device);
    }

    // Waits for a message on `topic` whose String metric `name` is `text`.
    bool WaitForText(const std::string& topic, const std::string& name, const std::string& text) {
        return WaitUntil([&] {
            for (const auto& bytes : subscriber->On(topic)) {
                const Payload payload = Decode(bytes);
                const auto* metric = Find(payload, name);
                if (metric != nullptr && metric->string_value() == text) {
                    return true;
                }
            }
            return false;
        });
    }

    // Waits for a DDATA of `device` whose metric `name` holds a known (not NaN) number.
    bool WaitForMeasurement(const std::string& device, const std::string& name) {
        return WaitUntil(
            [&] {
                for (const auto& bytes : subscriber->On(Topic(SparkplugMessage::DDATA, device))) {
                    const Payload payload = Decode(bytes);
                    const auto* metric = Find(payload, name);
                    if (metric != nullptr && !std::isnan(metric->double_value())) {
                        return true;
                    }
                }
                return false;
            },
            std::chrono::seconds(10));
    }

    // The batch's scale and offset give the millimetres that the library's own conversion,
    // read by a client of this test from the same sensor, gives for the same words.
    void ExpectMillimetresOfTheLibrary(const std::string& name, const DecodedBatch& batch) {
        auto client =
            Varkon::QUILApi::Quil::Create(TestAddress(name == "left" ? 1 : 2), TestPort(3));
        client->Connect();
        const auto coordinates = Varkon::QUILApi::ProfileCoordinates::Read(*client);
        EXPECT_NE(batch.scale[0], 1.0);
        ASSERT_FALSE(batch.profiles.empty());
        for (const auto& profile : batch.profiles) {
            for (std::size_t i = 0; i < profile.channel0.size(); ++i) {
                const uint16_t word = profile.channel0[i];
                if (word != Varkon::QUILApi::StreamWordEncoding{}.noPointWord) {
                    EXPECT_NEAR(word * batch.scale[0] + batch.offset[0], coordinates.StreamZ(word),
                                1e-9);
                }
            }
            for (const uint16_t word : profile.channel1) {
                EXPECT_NEAR(word * batch.scale[1] + batch.offset[1], coordinates.StreamX(word),
                            1e-9);
            }
        }
    }

    TempDirectory directory;
    std::string topLines;  // further top-level lines of the configuration
    std::unique_ptr<Broker> broker;
    std::unique_ptr<Subscriber> subscriber;
    std::map<std::string, std::unique_ptr<VirtualSensor>> sensors;
    std::map<std::string, json> before;
    std::unique_ptr<BackgroundProcess> gateway;
};

TEST_F(GatewayTest, PublishesBirthsMeasurementsAndProfilesAndPutsTheOutputsBackOnSigterm) {
    StartGateway();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::NBIRTH))) << gateway->Err();
    const struct {
        const char* device;
        uint32_t perMessage;
        uint32_t decimation;
        uint8_t compressed;
    } devices[] = {{"left", 5, 1, 0}, {"right", 4, 2, 1}};
    for (const auto& device : devices) {
        SCOPED_TRACE(device.device);
        ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, device.device)))
            << gateway->Err();
        const Payload birth =
            Decode(subscriber->On(Topic(SparkplugMessage::DBIRTH, device.device))[0]);
        for (const char* name :
             {"Identity/Serial Number", "Connection/Connected", "Connection/Reconnections",
              "Stream/Profiles Received", "Stream/Blocks Lost", "Stream/Kernel Drops",
              "Stream/Foreign Datagrams", "Stream/Queue Drops", "Clock/Offset ms",
              "Clock/Offset Spread ms", "Settings/Data IDs", "Measurement/Value 0"}) {
            EXPECT_NE(Find(birth, name), nullptr) << name;
        }
        EXPECT_TRUE(Find(birth, "Connection/Connected")->boolean_value());
        EXPECT_TRUE(WaitForMeasurement(device.device, "Measurement/Value 0"));
        EXPECT_TRUE(WaitForMeasurement(device.device, "Clock/Offset ms"));

        const std::string profiles = ProfilesTopic("line", device.device);
        ASSERT_TRUE(subscriber->WaitFor(profiles, 2));
        const std::string batch = subscriber->On(profiles)[1];
        ASSERT_GT(batch.size(), 8u + std::strlen(device.device) + 56u);
        EXPECT_EQ(batch.substr(0, 4), "QPRF");
        EXPECT_EQ(static_cast<uint8_t>(batch[5]), device.compressed);
        EXPECT_EQ(batch.substr(8, std::strlen(device.device)), device.device);
        EXPECT_EQ(static_cast<uint8_t>(batch[8 + std::strlen(device.device)]), device.perMessage);
        EXPECT_EQ(static_cast<uint8_t>(batch[12 + std::strlen(device.device)]), device.decimation);
        ExpectMillimetresOfTheLibrary(device.device, DecodeBatch(batch));
    }
    EXPECT_NE(Output("left"), before["left"]);

    gateway->Signal(SIGTERM);
    EXPECT_EQ(gateway->Wait(), 0) << gateway->Err();
    EXPECT_EQ(Output("left"), before["left"]);
    EXPECT_EQ(Output("right"), before["right"]);
    EXPECT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DDEATH, "left")));
    EXPECT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DDEATH, "right")));
    EXPECT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::NDEATH)));
}

TEST_F(GatewayTest, ASensorThatAnswersAgainIsAimedAgainAndACrashLeavesTheWill) {
    topLines = HttpPortLine();
    StartGateway();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"))) << gateway->Err();
    ViewClient view(TestPort(3));
    // The page tells first whether the sensor is there: since when it is away, and why.
    const auto away = [&view](bool expected) {
        return view.Next("hello", [expected](const json& hello) {
            for (const json& sensor : hello["sensors"]) {
                if (sensor["name"] == "left") {
                    return expected ? sensor["away"].is_object() &&
                                          sensor["away"]["since"].get<int64_t>() > 0 &&
                                          !sensor["away"]["reason"].get<std::string>().empty()
                                    : sensor["away"].is_null();
                }
            }
            return false;
        });
    };
    EXPECT_FALSE(away(false).is_null());
    // The sensor stops answering (it drops every connection), then answers again.
    Varkon::QUILApi::Sim::FaultRates gone;
    gone.connectionDrop = 1.0;
    sensors["left"]->SetFaults(gone);
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DDEATH, "left"))) << gateway->Err();
    EXPECT_FALSE(away(true).is_null());
    sensors["left"]->SetFaults({});
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"), 2)) << gateway->Err();
    EXPECT_FALSE(away(false).is_null());
    const Payload reborn = Decode(subscriber->On(Topic(SparkplugMessage::DBIRTH, "left"))[1]);
    EXPECT_EQ(Find(reborn, "Connection/Reconnections")->long_value(), 1u);
    const std::string profiles = ProfilesTopic("line", "left");
    const std::size_t batches = subscriber->On(profiles).size();
    EXPECT_TRUE(subscriber->WaitFor(profiles, batches + 1));

    gateway->Signal(SIGKILL);
    gateway->Wait();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::NDEATH), 1, std::chrono::seconds(15)));
    const auto bdSeq = [&](const std::string& bytes) {
        const Payload payload = Decode(bytes);
        return Find(payload, "bdSeq")->long_value();
    };
    EXPECT_EQ(bdSeq(subscriber->On(Topic(SparkplugMessage::NDEATH))[0]),
              bdSeq(subscriber->On(Topic(SparkplugMessage::NBIRTH))[0]));

    // The next run finds the outputs the crashed one aimed, and puts back what was there before.
    StartGateway();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"), 3)) << gateway->Err();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "right"), 2)) << gateway->Err();
    gateway->Signal(SIGTERM);
    EXPECT_EQ(gateway->Wait(), 0) << gateway->Err();
    EXPECT_EQ(Output("left"), before["left"]);
    EXPECT_EQ(Output("right"), before["right"]);
    for (const auto& entry : std::filesystem::directory_iterator(directory.Path(""))) {
        EXPECT_EQ(entry.path().string().find(".output.json"), std::string::npos) << entry.path();
    }
}

TEST_F(GatewayTest, SettingsAreAppliedOnEveryConnectionAndARefusalLeavesTheOthersRunning) {
    const auto exposure = [&](const std::string& name) {
        return sensors.at(name)->Read("ExposureTime").at("ExposureTime").get<uint32_t>();
    };
    const uint32_t rightBefore = exposure("right");
    directory.Write("left.json", R"({"exposure-time": 777})");
    directory.Write("right.json", R"({"exposure-time": 778})");  // needs maintenance
    StartGateway(
        "    role: maintenance\n    password_file: maintenance.pw\n    settings_file: left.json\n",
        "    password_file: operator.pw\n    settings_file: right.json\n");
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"))) << gateway->Err();
    EXPECT_EQ(exposure("left"), 777u);
    ASSERT_TRUE(WaitUntil([&] {
        return gateway->Err().find("sensor right (" + TestAddress(2) + "): its settings from " +
                                   directory.Path("right.json") +
                                   " were refused: the sensor refused exposure-time = 778: ") !=
               std::string::npos;
    })) << gateway->Err();
    EXPECT_EQ(exposure("right"), rightBefore);
    EXPECT_EQ(Output("right"), before["right"]);
    EXPECT_TRUE(subscriber->On(Topic(SparkplugMessage::DBIRTH, "right")).empty());

    // The sensor is gone (its process ended) and comes back with its factory settings.
    sensors.erase("left");
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DDEATH, "left"))) << gateway->Err();
    StartSensor("left");
    ASSERT_NE(exposure("left"), 777u);
    ASSERT_TRUE(
        subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"), 2, std::chrono::seconds(20)))
        << gateway->Err();
    EXPECT_EQ(exposure("left"), 777u);
    const std::string profiles = ProfilesTopic("line", "left");
    const std::size_t batches = subscriber->On(profiles).size();
    EXPECT_TRUE(subscriber->WaitFor(profiles, batches + 1));
}

TEST_F(GatewayTest, ABrokerThatRestartsGetsEveryBirthAgainAndTheProfilesGoOn) {
    constexpr double kQueueBytes = 64 * 1024;
    topLines = HttpPortLine() + "publish_queue:\n  kilobytes: 64\n";
    StartGateway();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"))) << gateway->Err();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "right"))) << gateway->Err();
    broker->Kill();
    ASSERT_TRUE(WaitUntil([&] {
        return gateway->Err().find("lost the connection to the MQTT broker") != std::string::npos;
    })) << gateway->Err();
    // While the broker is away the queue fills to its bytes and drops its oldest; it never
    // holds more. (What the broker had not acknowledged is counted as dropped at the loss.)
    const double lost = MetricValue(Metrics(), "quil_publish_dropped_total");
    double mostBytes = 0;
    EXPECT_TRUE(WaitUntil([&] {
        const std::string metrics = Metrics();
        mostBytes = std::max(mostBytes, MetricValue(metrics, "quil_publish_queue_bytes"));
        // One moment's counters: what was published had been received.
        EXPECT_LE(MetricValue(metrics, "quil_profiles_published_total{sensor=\"left\"}"),
                  MetricValue(metrics, "quil_profiles_received_total{sensor=\"left\"}"));
        return MetricValue(metrics, "quil_publish_dropped_total") > lost;
    })) << Metrics();
    EXPECT_GT(mostBytes, kQueueBytes / 2);
    EXPECT_LE(mostBytes, kQueueBytes);
    broker->Start();
    ASSERT_TRUE(broker->Ready()) << broker->Log();
    ASSERT_TRUE(subscriber->WaitSubscribed(4));
    const auto connections = [&] {
        std::size_t count = 0;
        const std::string err = gateway->Err();
        for (auto at = err.find("connected to the MQTT broker"); at != std::string::npos;
             at = err.find("connected to the MQTT broker", at + 1)) {
            ++count;
        }
        return count;
    };
    ASSERT_TRUE(WaitUntil([&] { return connections() == 2; })) << gateway->Err();
    // The births of the new connection may have come before this subscriber was back: a host
    // asks for them again, as a host application does.
    Payload rebirth;
    auto& metric = *rebirth.add_metrics();
    metric.set_name("Node Control/Rebirth");
    metric.set_datatype(11);
    metric.set_boolean_value(true);
    subscriber->Publish(Topic(SparkplugMessage::NCMD), rebirth.SerializeAsString());
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::NBIRTH), 2)) << gateway->Err();
    const Payload birth = Decode(subscriber->On(Topic(SparkplugMessage::NBIRTH)).back());
    EXPECT_EQ(Find(birth, "bdSeq")->long_value(), 1u);
    for (const char* device : {"left", "right"}) {
        EXPECT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, device), 2)) << device;
        const std::string profiles = ProfilesTopic("line", device);
        const std::size_t batches = subscriber->On(profiles).size();
        EXPECT_TRUE(subscriber->WaitFor(profiles, batches + 1)) << device;
    }
    EXPECT_LE(MetricValue(Metrics(), "quil_publish_queue_bytes"), kQueueBytes);
}

// The black box keeps the window within its bytes while a sensor streams more than that, and
// keeps it as named recordings, asked over HTTP and as a device command, at most one an
// interval and at most as many as its bound.
TEST_F(GatewayTest, TheBlackBoxStaysWithinItsBytesAndKeepsNamedRecordings) {
    constexpr double kBound = 1'000'000;
    StartSensor("left", 1024);
    topLines = HttpPortLine();
    StartGateway(
        "    password_file: operator.pw\n    black_box:\n      folder: box\n"
        "      megabytes: 1\n      keep_interval: 1\n      kept_recordings: 2\n");
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"))) << gateway->Err();
    const std::filesystem::path window = directory.Path("box/window");
    const auto windowBytes = [&] {
        double bytes = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(window, error)) {
            std::error_code gone;  // deleted meanwhile
            const auto size = std::filesystem::file_size(entry.path(), gone);
            bytes += gone ? 0 : static_cast<double>(size);
        }
        return bytes;
    };
    // Until the first piece has made room for newer ones, and a while beyond.
    double most = 0;
    const auto firstPiece = window / "00000001.pcap";
    ASSERT_TRUE(WaitUntil(
        [&] {
            most = std::max(most, windowBytes());
            return !std::filesystem::exists(firstPiece);
        },
        std::chrono::seconds(20)))
        << gateway->Err();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < until) {
        most = std::max(most, windowBytes());
    }
    EXPECT_LE(most, kBound);
    EXPECT_GT(most, kBound / 2);
    EXPECT_LE(MetricValue(Metrics(), "quil_black_box_bytes{sensor=\"left\"}"), kBound);
    // The bytes hold far less than the 60 s configured: told once, and as a metric.
    const double seconds = MetricValue(Metrics(), "quil_black_box_window_seconds{sensor=\"left\"}");
    EXPECT_GT(seconds, 0.0);
    EXPECT_LT(seconds, 30.0);
    EXPECT_EQ(Occurrences(gateway->Err(), "sensor left: black box: the window holds "), 1u)
        << gateway->Err();
    EXPECT_NE(gateway->Err().find(" s, not the 60 s configured, as its files may take at most "
                                  "1.0 MB\n"),
              std::string::npos)
        << gateway->Err();

    const auto kept = [&] {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(directory.Path("box/kept"), error)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    // One command of sixteen keeps: the first is taken, every other is answered as too soon.
    subscriber->Publish(SparkplugTopic("line", SparkplugMessage::DCMD, "pc", "left"),
                        CommandPayload("Black Box/Keep", "fault", 16));
    EXPECT_TRUE(WaitUntil([&] {
        return Occurrences(gateway->Err(), "sensor left: black box not kept as fault-15: ") == 1;
    })) << gateway->Err();
    EXPECT_EQ(kept(), std::vector<std::string>{"fault"});
    EXPECT_EQ(Occurrences(gateway->Err(), "black box not kept as fault-"), 15u);
    EXPECT_TRUE(WaitUntil([&] {
        for (const auto& bytes : subscriber->On(Topic(SparkplugMessage::DDATA, "left"))) {
            const Payload payload = Decode(bytes);
            const auto* last = Find(payload, "Black Box/Last Kept");
            if (last != nullptr &&
                last->string_value().rfind("not kept as fault-15: the last keep was ", 0) == 0) {
                return true;
            }
        }
        return false;
    })) << gateway->Err();

    // Asks again every 100 ms while the answer is that the last keep was too recent.
    const auto keepOverHttp = [&](const std::string& name) {
        std::string answer;
        auto next = std::chrono::steady_clock::now();
        WaitUntil(
            [&] {
                if (std::chrono::steady_clock::now() < next) {
                    return false;
                }
                next += std::chrono::milliseconds(100);
                answer = HttpRequest(TestPort(3), "POST", "/blackbox/left?name=" + name);
                return answer.rfind("HTTP/1.1 429 ", 0) != 0;
            },
            std::chrono::seconds(10));
        return answer.substr(0, answer.find("\r\n"));
    };
    ASSERT_EQ(keepOverHttp("fault-1"), "HTTP/1.1 200 OK") << gateway->Err();
    const std::string longName(300, 'a');
    const struct {
        std::string target;
        const char* status;
        std::string text;
    } requests[] = {
        {"/blackbox/left?name=fault-1", "HTTP/1.1 409 Conflict",
         "a recording named fault-1 is kept already"},
        {"/blackbox/left?name=fault-1b", "HTTP/1.1 429 Too Many Requests", "the last keep was "},
        {"/blackbox/left?name=../up", "HTTP/1.1 400 Bad Request",
         "\"../up\" is not a name of letters, digits, '-', '_' and '.'"},
        {"/blackbox/left?name=a%2Fb", "HTTP/1.1 400 Bad Request",
         "\"a%2Fb\" is not a name of letters, digits, '-', '_' and '.'"},
        {"/blackbox/left?name=" + longName, "HTTP/1.1 400 Bad Request",
         "\"" + longName.substr(0, 64) + "...\" (300 bytes) is longer than 100 characters"},
        {"/blackbox/right?name=x", "HTTP/1.1 404 Not Found", "sensor right has no black box"},
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.target);
        const std::string answer = HttpRequest(TestPort(3), "POST", r.target);
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), r.status);
        EXPECT_NE(answer.find("\r\n\r\n" + r.text), std::string::npos) << answer;
    }
    EXPECT_NE(gateway->Err().find("sensor left: black box kept the last "), std::string::npos);

    // A third recording makes room by removing the oldest.
    ASSERT_EQ(keepOverHttp("fault-2"), "HTTP/1.1 200 OK") << gateway->Err();
    EXPECT_EQ(kept(), (std::vector<std::string>{"fault-1", "fault-2"}));
    EXPECT_NE(gateway->Err().find(
                  "sensor left: black box: removed the oldest kept recording \"fault\" ("),
              std::string::npos)
        << gateway->Err();

    // Each piece of a kept recording is a whole capture the library reads, and each joins the
    // one before without a gap.
    for (const char* name : {"fault-1", "fault-2"}) {
        SCOPED_TRACE(name);
        std::vector<std::filesystem::path> pieces;
        for (const auto& entry :
             std::filesystem::directory_iterator(directory.Path("box/kept/") + name)) {
            if (entry.path().extension() == ".pcap") {
                pieces.push_back(entry.path());
            }
        }
        std::sort(pieces.begin(), pieces.end());
        EXPECT_GE(pieces.size(), 2u);
        SentInOrder sent;
        for (const auto& piece : pieces) {
            auto reader = Varkon::QUILApi::UdpStreaming::RecordingReader::Open(piece.string());
            Varkon::QUILApi::UdpStreaming::RecordedDatagram datagram;
            while (reader->Next(datagram)) {
                ASSERT_TRUE(sent.Next(datagram.bytes)) << piece << ", datagram " << sent.datagrams;
            }
        }
        EXPECT_GT(sent.datagrams, 0u);
    }
}

// Every command is answered once, in a line and by a metric: a keep that reaches a black box by
// the device's "Black Box/Last Kept", anything else by the node's "Node Control/Last Command".
// What a command names is quoted, shortened and escaped, so that it can neither grow the
// gateway's messages nor forge a line of its log.
TEST_F(GatewayTest, EveryCommandIsAnsweredOnceWithItsTextsBounded) {
    StartGateway("    password_file: operator.pw\n    black_box:\n      folder: box\n");
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"))) << gateway->Err();
    const std::string node = Topic(SparkplugMessage::NDATA);
    const std::string left = Topic(SparkplugMessage::DDATA, "left");
    const std::string ncmd = Topic(SparkplugMessage::NCMD);
    const auto dcmd = [&](const std::string& device) {
        return Topic(SparkplugMessage::DCMD, device);
    };
    const std::string keep = "Black Box/Keep";
    const std::string longName(3000, 'a');
    const struct {
        std::string topic;
        std::string payload;
        const std::string& answerTopic;
        const char* metric;
        std::string answer;
    } commands[] = {
        {dcmd("right"), CommandPayload(keep, "x"), node, "Node Control/Last Command",
         "DCMD to \"right\" refused: Black Box/Keep: sensor right has no black box"},
        {dcmd("nowhere"), CommandPayload(keep, "x"), node, "Node Control/Last Command",
         "DCMD to \"nowhere\" refused: Black Box/Keep: there is no sensor \"nowhere\""},
        {dcmd("left"), CommandPayload(keep, ""), node, "Node Control/Last Command",
         "DCMD to \"left\" refused: Black Box/Keep expects a String, the recording's name"},
        {dcmd("left"), CommandPayload("Black Box/Erase", "x"), node, "Node Control/Last Command",
         "DCMD to \"left\" refused: unknown metric \"Black Box/Erase\""},
        {dcmd("left"), CommandPayload(keep, "x", 17), node, "Node Control/Last Command",
         "DCMD to \"left\" refused: 17 metrics, expected 1 to 16"},
        {dcmd("left"), std::string(5000, 'x'), node, "Node Control/Last Command",
         "DCMD to \"left\" refused: 5000 bytes, more than 4096"},
        {ncmd, "\xff\xff", node, "Node Control/Last Command",
         "NCMD refused: not a Sparkplug B payload"},
        {ncmd, CommandPayload("Node Control/Reboot", ""), node, "Node Control/Last Command",
         "NCMD refused: unknown metric \"Node Control/Reboot\""},
        {dcmd("left"), CommandPayload(keep, "a\nquil-gateway: forged"), left, "Black Box/Last Kept",
         "not kept: \"a\\nquil-gateway: forged\" is not a name of letters, digits, '-', '_' "
         "and '.'"},
        {dcmd("left"), CommandPayload(keep, longName), left, "Black Box/Last Kept",
         "not kept: \"" + longName.substr(0, 64) +
             "...\" (3000 bytes) is longer than 100 characters"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command.answer);
        subscriber->Publish(command.topic, command.payload);
        EXPECT_TRUE(WaitForText(command.answerTopic, command.metric, command.answer))
            << gateway->Err();
        EXPECT_EQ(Occurrences(gateway->Err(), command.answer), 1u) << gateway->Err();
    }
    EXPECT_EQ(Occurrences(gateway->Err(), "\nquil-gateway: forged"), 0u) << gateway->Err();
}

// The live view's sensor chooser follows the sensors, each shown with the profiles the gateway
// reads from its stream.
TEST_F(GatewayTest, SighupTakesSensorsAddedRemovedAndChangedAndLeavesTheOthersStreaming) {
    StartSensor("third");
    const json thirdBefore = Output("third");
    topLines = HttpPortLine();
    StartGateway();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "left"))) << gateway->Err();
    ASSERT_TRUE(subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "right"))) << gateway->Err();
    ViewClient view(TestPort(3));
    const auto showing = [&view](std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return view.Next("hello", [&names](const json& hello) {
            std::vector<std::string> shown = SensorNames(hello);
            std::sort(shown.begin(), shown.end());
            return shown == names;
        });
    };
    const json hello = showing({"left", "right"});
    ASSERT_FALSE(hello.is_null());
    for (const json& sensor : hello["sensors"]) {
        SCOPED_TRACE(sensor.dump());
        view.Send({{"type", "select"}, {"sensor", sensor["id"]}});
        EXPECT_FALSE(view.Next("frame",
                               [&sensor](const json& frame) {
                                   return frame["sensor"] == sensor["id"] &&
                                          frame.contains("profile");
                               })
                         .is_null());
    }
    const std::string third = "  - name: third\n    address: " + TestAddress(3) +
                              "\n    udp_port: " + std::to_string(TestPort(3)) +
                              "\n    password_file: operator.pw\n";
    const struct {
        std::string right;
        std::string more;
        std::size_t rightBirths;
        std::size_t thirdBirths;
        std::size_t thirdDeaths;
        const char* logged;
        std::vector<std::string> shown;
    } reloads[] = {
        {"    password_file: maintenance.pw\n    role: maintenance\n",
         third,
         2,
         1,
         0,
         "1 added, 0 removed, 1 changed",
         {"left", "right", "third"}},
        {"", "", 3, 1, 1, "0 added, 1 removed, 1 changed", {"left", "right"}},
    };
    for (const auto& reload : reloads) {
        SCOPED_TRACE(reload.logged);
        const std::size_t leftBatches = subscriber->On(ProfilesTopic("line", "left")).size();
        WriteConfiguration({}, reload.right, reload.more);
        gateway->Signal(SIGHUP);
        ASSERT_TRUE(WaitUntil([&] {
            return gateway->Err().find(reload.logged) != std::string::npos;
        })) << gateway->Err();
        EXPECT_TRUE(
            subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "right"), reload.rightBirths))
            << gateway->Err();
        EXPECT_TRUE(
            subscriber->WaitFor(Topic(SparkplugMessage::DBIRTH, "third"), reload.thirdBirths))
            << gateway->Err();
        EXPECT_TRUE(
            subscriber->WaitFor(Topic(SparkplugMessage::DDEATH, "third"), reload.thirdDeaths));
        EXPECT_TRUE(subscriber->WaitFor(ProfilesTopic("line", "left"), leftBatches + 2));
        EXPECT_EQ(subscriber->On(Topic(SparkplugMessage::DBIRTH, "left")).size(), 1u);
        EXPECT_TRUE(subscriber->On(Topic(SparkplugMessage::DDEATH, "left")).empty());
        EXPECT_FALSE(showing(reload.shown).is_null());
    }
    EXPECT_EQ(Output("third"), thirdBefore);

    // A configuration that cannot be read leaves everything as it runs.
    directory.Write("gateway.yaml", "broker: [\n");
    gateway->Signal(SIGHUP);
    EXPECT_TRUE(
        WaitUntil([&] { return gateway->Err().find("not reloaded: ") != std::string::npos; }));
    gateway->Signal(SIGTERM);
    EXPECT_EQ(gateway->Wait(), 0) << gateway->Err();
    EXPECT_EQ(subscriber->On(Topic(SparkplugMessage::DBIRTH, "left")).size(), 1u);
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

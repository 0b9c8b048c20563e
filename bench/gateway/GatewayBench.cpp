// quil-gateway end to end, run by hand: N virtual sensors (in this process) stream through the
// gateway (its own process) and a broker (mosquitto) to a subscriber (in this process), which
// checks every profile's block id for gaps. Beside it, the same traffic received by bare library
// streams (a child process of this program that only takes the profiles). Reports per round the
// profile rate at the subscriber, the profiles lost, and each process's CPU time per profile;
// then median and spread over the rounds.
//
//   quil_gateway_bench <path of quil-gateway> [sensors 4] [profiles/s 2000] [points 2048]
//                      [seconds 5] [rounds 5] [black-box]
// With black-box, every sensor of the gateway has a black box (200 MB) in a temporary folder.
#include <quil/Quil.h>
#include <quil/sim/VirtualSensor.h>

#include <fcntl.h>
#include <mosquitto.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Varkon::QUILApi::Sim::VirtualSensor;
using Varkon::QUILApi::Sim::VirtualSensorOptions;

constexpr uint16_t kWebSocketPort = 8077;
constexpr uint16_t kFirstUdpPort = 19100;
constexpr uint16_t kBrokerPort = 19099;
const char* const kBrokerAddress = "127.0.91.1";
constexpr auto kWarmUp = std::chrono::seconds(2);
// Measurements and profiles: block ids count over both, so consecutive profiles lie two apart.
const std::vector<uint32_t> kDataIds{0, 1};

std::string SensorAddress(int i) {
    return "127.0.90." + std::to_string(i + 1);
}

pid_t Spawn(const std::vector<std::string>& words, const std::string& log) {
    std::vector<char*> argv;
    std::vector<std::string> copy = words;
    for (auto& word : copy) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

// User and system CPU time of a process so far, in microseconds.
double CpuMicroseconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks * 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double SelfCpuMicroseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

struct Figures {
    double profilesPerSecond = 0;
    uint64_t lost = 0;
    double cpuPerProfileUs = 0;
    double blackBoxMegabytes = 0;  // what the black boxes' windows held at the end
};

double MegabytesUnder(const std::string& folder) {
    double bytes = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (entry.is_regular_file()) {
            bytes += static_cast<double>(entry.file_size());
        }
    }
    return bytes / 1e6;
}

// The child: bare streams of the sensors, one thread each taking the profiles as the gateway's
// sensor threads do; prints "<profiles> <cpu us> <lost>" for the measured stretch.
int BareStreams(int sensors, double seconds) {
    std::vector<std::unique_ptr<Varkon::QUILApi::Quil>> clients;
    std::vector<std::unique_ptr<Varkon::QUILApi::StreamOutputAim>> aims;
    std::vector<std::shared_ptr<Varkon::QUILApi::UdpStreaming::QuilStream>> streams;
    for (int i = 0; i < sensors; ++i) {
        clients.push_back(
            Varkon::QUILApi::Quil::Create(SensorAddress(i) + ":" + std::to_string(kWebSocketPort),
                                          static_cast<uint16_t>(kFirstUdpPort + i)));
        clients.back()->Connect();
        clients.back()->Login("operator", "operator");
        streams.push_back(clients.back()->GetStream());
        streams.back()->SetArrivalTimes(true);
        aims.push_back(std::make_unique<Varkon::QUILApi::StreamOutputAim>(
            *clients.back(), static_cast<uint16_t>(kFirstUdpPort + i), kDataIds));
        streams.back()->Start();
    }
    std::atomic<bool> measuring{false};
    std::atomic<bool> done{false};
    std::atomic<uint64_t> profiles{0};
    std::vector<std::thread> threads;
    for (auto& stream : streams) {
        threads.emplace_back([&, stream] {
            while (!done) {
                if (!stream->WaitForData(std::chrono::milliseconds(20))) {
                    continue;
                }
                while (auto timed = stream->PopTimedProfileFor(std::chrono::milliseconds(0))) {
                    if (measuring) {
                        ++profiles;
                    }
                }
                while (stream->PopMeasurementFor(std::chrono::milliseconds(0))) {
                }
            }
        });
    }
    std::this_thread::sleep_for(kWarmUp);
    uint64_t lostBefore = 0;
    for (auto& stream : streams) {
        lostBefore += stream->GetStatistics().blocksLost + stream->GetStatistics().kernelDrops;
    }
    const double cpuBefore = SelfCpuMicroseconds();
    measuring = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    measuring = false;
    const double cpu = SelfCpuMicroseconds() - cpuBefore;
    uint64_t lost = 0;
    for (auto& stream : streams) {
        lost += stream->GetStatistics().blocksLost + stream->GetStatistics().kernelDrops;
    }
    done = true;
    for (auto& thread : threads) {
        thread.join();
    }
    aims.clear();
    std::printf("%llu %.0f %llu\n", static_cast<unsigned long long>(profiles.load()), cpu,
                static_cast<unsigned long long>(lost - lostBefore));
    return 0;
}

Figures RunBare(const std::string& self, int sensors, double seconds, const std::string& folder) {
    const std::string out = folder + "/bare.out";
    const pid_t pid =
        Spawn({self, "--bare", std::to_string(sensors), std::to_string(seconds)}, out);
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream result(out);
    unsigned long long profiles = 0, lost = 0;
    double cpu = 0;
    result >> profiles >> cpu >> lost;
    Figures figures;
    figures.profilesPerSecond = static_cast<double>(profiles) / seconds;
    figures.lost = lost;
    figures.cpuPerProfileUs = profiles > 0 ? cpu / static_cast<double>(profiles) : 0;
    return figures;
}

// Counts the profiles of every batch and the gaps between their block ids, per sensor.
class Counter {
public:
    void Take(const char* data, std::size_t size) {
        if (size < 8) {
            return;
        }
        uint16_t nameLength = 0;
        std::memcpy(&nameLength, data + 6, 2);
        const std::string name(data + 8, nameLength);
        std::size_t at = 8 + nameLength;
        uint32_t count = 0;
        std::memcpy(&count, data + at, 4);
        at += 4 + 4 + 48;
        const std::lock_guard<std::mutex> lock(mutex);
        Sensor& sensor = sensors[name];
        for (uint32_t i = 0; i < count && at + 32 <= size; ++i) {
            uint32_t block = 0;
            uint32_t points = 0;
            std::memcpy(&block, data + at, 4);
            std::memcpy(&points, data + at + 28, 4);
            const uint8_t flags = static_cast<uint8_t>(data[at + 27]);
            const int channels = 1 + ((flags >> 6) & 1) + ((flags >> 7) & 1);
            at += 32 + 2u * points * static_cast<std::size_t>(channels);
            const auto step = static_cast<uint32_t>(kDataIds.size());
            if (sensor.seen && block > sensor.last + step) {
                lost += (block - sensor.last) / step - 1;
            }
            sensor.seen = true;
            sensor.last = block;
            ++profiles;
        }
    }
    std::pair<uint64_t, uint64_t> ProfilesAndLost() {
        const std::lock_guard<std::mutex> lock(mutex);
        return {profiles, lost};
    }
    std::size_t SensorsSeen() {
        const std::lock_guard<std::mutex> lock(mutex);
        return sensors.size();
    }

private:
    struct Sensor {
        bool seen = false;
        uint32_t last = 0;
    };
    std::mutex mutex;
    std::map<std::string, Sensor> sensors;
    uint64_t profiles = 0;
    uint64_t lost = 0;
};

Figures RunGateway(const std::string& gatewayPath, int sensors, double seconds,
                   const std::string& folder, bool blackBox) {
    std::string config = "broker:\n  host: " + std::string(kBrokerAddress) +
                         "\n  port: " + std::to_string(kBrokerPort) +
                         "\ngroup_id: bench\nnode_id: pc\nsensors:\n";
    for (int i = 0; i < sensors; ++i) {
        config += "  - name: s" + std::to_string(i) + "\n    address: " + SensorAddress(i) + ":" +
                  std::to_string(kWebSocketPort) +
                  "\n    udp_port: " + std::to_string(kFirstUdpPort + i) +
                  "\n    password_file: pw\n    profiles_per_message: 20\n";
        if (blackBox) {
            config += "    black_box:\n      folder: box" + std::to_string(i) +
                      "\n      megabytes: 200\n";
        }
    }
    std::ofstream(folder + "/pw") << "operator\n";
    std::ofstream(folder + "/gateway.yaml") << config;

    Counter counter;
    mosquitto* subscriber = mosquitto_new(nullptr, true, &counter);
    mosquitto_message_callback_set(
        subscriber, [](mosquitto*, void* self, const mosquitto_message* message) {
            static_cast<Counter*>(self)->Take(static_cast<const char*>(message->payload),
                                              static_cast<std::size_t>(message->payloadlen));
        });
    mosquitto_connect(subscriber, kBrokerAddress, kBrokerPort, 30);
    mosquitto_subscribe(subscriber, nullptr, "quil/v1/bench/+/profiles", 0);
    mosquitto_loop_start(subscriber);

    const pid_t gateway = Spawn({gatewayPath, folder + "/gateway.yaml"}, folder + "/gateway.log");
    const auto limit = Clock::now() + std::chrono::seconds(20);
    while (counter.SensorsSeen() < static_cast<std::size_t>(sensors) && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(kWarmUp);
    const auto [profilesBefore, lostBefore] = counter.ProfilesAndLost();
    const double cpuBefore = CpuMicroseconds(gateway);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = CpuMicroseconds(gateway) - cpuBefore;
    const auto [profilesAfter, lostAfter] = counter.ProfilesAndLost();
    Stop(gateway);
    double blackBoxes = 0;
    for (int i = 0; blackBox && i < sensors; ++i) {
        blackBoxes += MegabytesUnder(folder + "/box" + std::to_string(i));
    }
    mosquitto_disconnect(subscriber);
    mosquitto_loop_stop(subscriber, false);
    mosquitto_destroy(subscriber);

    Figures figures;
    const uint64_t profiles = profilesAfter - profilesBefore;
    figures.profilesPerSecond = static_cast<double>(profiles) / seconds;
    figures.lost = lostAfter - lostBefore;
    figures.blackBoxMegabytes = blackBoxes;
    // Per profile the gateway took from its sensors: those delivered and those lost after it.
    const uint64_t taken = profiles + figures.lost;
    figures.cpuPerProfileUs = taken > 0 ? cpu / static_cast<double>(taken) : 0;
    return figures;
}

void Summarise(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%-34s median %10.2f  min %10.2f  max %10.2f\n", what, values[values.size() / 2],
                values.front(), values.back());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--bare") {
        return BareStreams(std::stoi(argv[2]), std::stod(argv[3]));
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s <quil-gateway> [sensors] [profiles/s] [points] [seconds] "
                     "[rounds]\n",
                     argv[0]);
        return 2;
    }
    const std::string gatewayPath = argv[1];
    const int sensors = argc > 2 ? std::stoi(argv[2]) : 4;
    const double rate = argc > 3 ? std::stod(argv[3]) : 2000;
    const uint32_t points = argc > 4 ? static_cast<uint32_t>(std::stoul(argv[4])) : 2048;
    const double seconds = argc > 5 ? std::stod(argv[5]) : 5;
    const int rounds = argc > 6 ? std::stoi(argv[6]) : 5;
    const bool blackBox = argc > 7 && std::string(argv[7]) == "black-box";

    char pattern[] = "/tmp/quil-gateway-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::ofstream(folder + "/mosquitto.conf")
        << "listener " << kBrokerPort << " " << kBrokerAddress
        << "\nallow_anonymous true\npersistence false\nmax_queued_messages 100000\n";
    const pid_t broker =
        Spawn({"/usr/sbin/mosquitto", "-c", folder + "/mosquitto.conf"}, folder + "/broker.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    mosquitto_lib_init();
    std::vector<std::unique_ptr<VirtualSensor>> sims;
    for (int i = 0; i < sensors; ++i) {
        VirtualSensorOptions options;
        options.address = SensorAddress(i);
        options.webSocketPort = kWebSocketPort;
        options.profileRate = rate;
        options.pointsPerProfile = points;
        options.seed = static_cast<uint64_t>(i + 1);
        sims.push_back(std::make_unique<VirtualSensor>(options));
    }
    std::printf("%d sensors x %.0f profiles/s x %u points, %.0f s per round, %d rounds%s\n",
                sensors, rate, points, seconds, rounds, blackBox ? ", black boxes" : "");
    std::vector<double> bareRate, bareCpu, gatewayRate, gatewayCpu, ratio;
    uint64_t gatewayLost = 0, bareLost = 0;
    for (int round = 0; round < rounds; ++round) {
        const Figures bare = RunBare(argv[0], sensors, seconds, folder);
        const Figures gateway = RunGateway(gatewayPath, sensors, seconds, folder, blackBox);
        std::printf(
            "round %d: bare %.0f profiles/s, %llu lost, %.2f us CPU/profile; gateway %.0f "
            "profiles/s at the subscriber, %llu lost, %.2f us CPU/profile, black boxes %.0f MB\n",
            round + 1, bare.profilesPerSecond, static_cast<unsigned long long>(bare.lost),
            bare.cpuPerProfileUs, gateway.profilesPerSecond,
            static_cast<unsigned long long>(gateway.lost), gateway.cpuPerProfileUs,
            gateway.blackBoxMegabytes);
        std::fflush(stdout);
        bareRate.push_back(bare.profilesPerSecond);
        bareCpu.push_back(bare.cpuPerProfileUs);
        gatewayRate.push_back(gateway.profilesPerSecond);
        gatewayCpu.push_back(gateway.cpuPerProfileUs);
        ratio.push_back(bare.cpuPerProfileUs > 0 ? gateway.cpuPerProfileUs / bare.cpuPerProfileUs
                                                 : 0);
        gatewayLost += gateway.lost;
        bareLost += bare.lost;
    }
    Summarise("bare streams, profiles/s", bareRate);
    Summarise("bare streams, us CPU per profile", bareCpu);
    Summarise("gateway, profiles/s at subscriber", gatewayRate);
    Summarise("gateway, us CPU per profile", gatewayCpu);
    Summarise("gateway CPU / bare CPU", ratio);
    std::printf("lost in all rounds: bare %llu, gateway end to end %llu\n",
                static_cast<unsigned long long>(bareLost),
                static_cast<unsigned long long>(gatewayLost));
    sims.clear();
    Stop(broker);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}

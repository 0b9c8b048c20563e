// What one gateway does: its broker, its place in the Sparkplug namespace and its sensors, as
// its configuration file names them (ConfigurationFile.h reads one).
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace Varkon::QuilGateway {

struct TlsFiles {
    std::string caFile;
    std::string certFile;
    std::string keyFile;
};

struct BrokerSettings {
    std::string host;
    uint16_t port = 1883;
    std::string clientId;
    std::string username;
    std::string password;  // read from password_file; never given on the command line
    int keepaliveSeconds = 30;
    bool tls = false;
    TlsFiles tlsFiles;
};

enum class Compression { None, Zstd };

/// A sensor's black box: its latest raw datagrams kept on disk (BlackBox.h).
struct BlackBoxSettings {
    std::string folder;
    uint32_t seconds = 60;               // the window kept
    uint64_t bytes = 100'000'000;        // the most disk the window's pieces take
    uint32_t keepIntervalSeconds = 10;   // at most one keep in this time; the others refused
    uint32_t keptRecordings = 20;        // the most kept recordings; the oldest go first
    uint64_t keptBytes = 1'000'000'000;  // the most disk the kept recordings take

    bool operator==(const BlackBoxSettings& other) const {
        const auto fields = [](const BlackBoxSettings& s) {
            return std::tie(s.folder, s.seconds, s.bytes, s.keepIntervalSeconds, s.keptRecordings,
                            s.keptBytes);
        };
        return fields(*this) == fields(other);
    }
};

/// What waits for the broker (PublishQueue.h): the most messages and bytes.
struct PublishQueueLimits {
    std::size_t messages = 10000;
    std::size_t bytes = 64u << 20;
};

struct SensorSettings {
    std::string name;
    std::string host;
    uint16_t udpPort = 0;
    std::string localAddress;  // empty: this host's address on the route to the sensor
    std::vector<uint32_t> dataIds{0, 1};
    std::string role = "operator";
    std::string password;  // read from password_file
    uint32_t profilesPerMessage = 10;
    uint32_t decimation = 1;  // every k-th profile is published
    Compression compression = Compression::None;
    std::string settingsFile;         // where settingsDocument came from; empty: none
    nlohmann::json settingsDocument;  // applied on every connection; null: none
    std::optional<BlackBoxSettings> blackBox;
};

inline bool operator==(const SensorSettings& a, const SensorSettings& b) {
    const auto fields = [](const SensorSettings& s) {
        return std::tie(s.name, s.host, s.udpPort, s.localAddress, s.dataIds, s.role, s.password,
                        s.profilesPerMessage, s.decimation, s.compression, s.settingsFile,
                        s.settingsDocument, s.blackBox);
    };
    return fields(a) == fields(b);
}
inline bool operator!=(const SensorSettings& a, const SensorSettings& b) {
    return !(a == b);
}

struct Configuration {
    BrokerSettings broker;
    std::string groupId;
    std::string nodeId;
    std::vector<SensorSettings> sensors;
    // The live view, /healthz, /readyz and /metrics; port 0: none.
    std::string httpAddress = "127.0.0.1";
    uint16_t httpPort = 0;
    std::vector<std::string> httpAllowedHosts;    // names browsers use besides IP addresses
    std::vector<std::string> httpAllowedOrigins;  // other sites' pages that may use the port
    std::size_t httpMaxConnections = 100;
    PublishQueueLimits publishQueue;
    // Where each sensor's output as found is kept until it is put back (OutputMemory.h); empty:
    // not kept. Not read from the file: main sets it (StateFolder).
    std::string stateFolder;
};

}  // namespace Varkon::QuilGateway

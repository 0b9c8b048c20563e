// What one gateway does: its broker, its place in the Sparkplug namespace and its sensors, as
// its configuration file names them (ConfigurationFile.h reads one).
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
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
};

inline bool operator==(const SensorSettings& a, const SensorSettings& b) {
    const auto fields = [](const SensorSettings& s) {
        return std::tie(s.name, s.host, s.udpPort, s.localAddress, s.dataIds, s.role, s.password,
                        s.profilesPerMessage, s.decimation, s.compression, s.settingsFile,
                        s.settingsDocument);
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
    uint16_t httpPort = 0;  // /healthz, /readyz and /metrics on 127.0.0.1; 0: none
};

}  // namespace Varkon::QuilGateway

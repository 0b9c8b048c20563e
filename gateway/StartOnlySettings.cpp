#include "StartOnlySettings.h"

#include <tuple>

namespace Varkon::QuilGateway {
namespace {

auto Fields(const BrokerSettings& b) {
    return std::tie(b.host, b.port, b.username, b.password, b.keepaliveSeconds, b.tls,
                    b.tlsFiles.caFile, b.tlsFiles.certFile, b.tlsFiles.keyFile);
}

auto Fields(const PublishQueueLimits& limits) {
    return std::tie(limits.messages, limits.bytes);
}

template <typename T>
auto Fields(const T& value) {
    return std::tie(value);
}

template <auto Member>
bool Differs(const Configuration& a, const Configuration& b) {
    return Fields(a.*Member) != Fields(b.*Member);
}

// A client id that changes with the group or node id (the default one does) is told as theirs.
bool BrokerDiffers(const Configuration& a, const Configuration& b) {
    const bool sameIds = a.groupId == b.groupId && a.nodeId == b.nodeId;
    return Fields(a.broker) != Fields(b.broker) ||
           (sameIds && a.broker.clientId != b.broker.clientId);
}

struct StartOnly {
    const char* key;
    bool (*differs)(const Configuration&, const Configuration&);
};

constexpr StartOnly kStartOnly[] = {
    {"broker", BrokerDiffers},
    {"group_id", Differs<&Configuration::groupId>},
    {"node_id", Differs<&Configuration::nodeId>},
    {"http_port", Differs<&Configuration::httpPort>},
    {"http_address", Differs<&Configuration::httpAddress>},
    {"http_allowed_hosts", Differs<&Configuration::httpAllowedHosts>},
    {"http_allowed_origins", Differs<&Configuration::httpAllowedOrigins>},
    {"http_max_connections", Differs<&Configuration::httpMaxConnections>},
    {"publish_queue", Differs<&Configuration::publishQueue>},
};

}  // namespace

std::vector<std::string> StartOnlyChanges(const Configuration& running, const Configuration& next) {
    std::vector<std::string> keys;
    for (const StartOnly& setting : kStartOnly) {
        if (setting.differs(running, next)) {
            keys.push_back(setting.key);
        }
    }
    return keys;
}

std::string AtNextStart(const std::vector<std::string>& keys) {
    if (keys.empty()) {
        return {};
    }
    std::string text = "; ";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == keys.size() ? " and " : ", ") + keys[i];
    }
    return text + (keys.size() == 1 ? " changes" : " change") + " at the next start";
}

}  // namespace Varkon::QuilGateway

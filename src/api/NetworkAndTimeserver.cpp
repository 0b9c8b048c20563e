// Network and time server: "Network", "TimeserverMeta", "Timeserver".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace Frame {

template <>
struct Schema<Network> {
    static inline const auto fields = std::make_tuple(
        Field("useDHCP", &Network::useDHCP), Field("staticIP", &Network::staticIP),
        Field("subnetMask", &Network::subnetMask), Field("gateway", &Network::gateway),
        Field("macAdress", &Network::macAdress));
};

template <>
struct Schema<Timeserver> {
    static inline const auto fields = std::make_tuple(Field("useNTP", &Timeserver::useNTP),
                                                      Field("ntpServers", &Timeserver::ntpServers));
};

}  // namespace Frame

Network QuilApi::GetNetwork() {
    return Read<Network>("Network");
}

void QuilApi::SetNetwork(const Network& network) {
    SetNetwork(network.useDHCP, network.staticIP, network.subnetMask, network.gateway);
}

void QuilApi::SetNetwork(const bool& useDHCP, const std::string& staticIP,
                         const std::string& subnetMask, const std::string& gateway) {
    Write("Network", Frame::Object({{"useDHCP", useDHCP},
                                    {"staticIP", staticIP},
                                    {"subnetMask", subnetMask},
                                    {"gateway", gateway}}));
}

uint32_t QuilApi::GetTimeserverMeta() {
    return ReadField<uint32_t>("TimeserverMeta", "numServers");
}

Timeserver QuilApi::GetTimeserver() {
    return Read<Timeserver>("Timeserver");
}

void QuilApi::SetTimeserver(const Timeserver& timeserver) {
    SetTimeserver(timeserver.useNTP, timeserver.ntpServers);
}

void QuilApi::SetTimeserver(const bool& useNTP, const std::vector<std::string>& ntpServers) {
    Write("Timeserver", Frame::Object({{"useNTP", useNTP}, {"ntpServers", ntpServers}}));
}

}  // namespace Varkon::QUILApi

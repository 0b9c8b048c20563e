// Network and time server: "Network", "TimeserverMeta", "Timeserver".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
Network QuilApi::GetNetwork() {
    return Read<Network>("Network");
}

void QuilApi::SetNetwork(const Network& network) {
    SetNetwork(network.useDHCP, network.staticIP, network.subnetMask, network.gateway);
}

void QuilApi::SetNetwork(const bool& useDHCP, const std::string& staticIP,
                         const std::string& subnetMask, const std::string& gateway) {
    Write("Network", WriteBody(Network{useDHCP, staticIP, subnetMask, gateway, {}}));
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
    Write("Timeserver", WriteBody(Timeserver{useNTP, ntpServers}));
}

}  // namespace Varkon::QUILApi

// Network and time server: "Network", "TimeserverMeta", "Timeserver".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
Network QuilApi::GetNetwork() {
    return Read<Network>("Network");
}

void QuilApi::SetNetwork(const Network& network) {
    Write("Network", WriteBody(network));
}

void QuilApi::SetNetwork(const bool& useDHCP, const std::string& staticIP,
                         const std::string& subnetMask, const std::string& gateway) {
    SetNetwork(Network{useDHCP, staticIP, subnetMask, gateway, {}});
}

uint32_t QuilApi::GetTimeserverMeta() {
    return ReadField<uint32_t>("TimeserverMeta", "numServers");
}

Timeserver QuilApi::GetTimeserver() {
    return Read<Timeserver>("Timeserver");
}

void QuilApi::SetTimeserver(const Timeserver& timeserver) {
    Write("Timeserver", WriteBody(timeserver));
}

void QuilApi::SetTimeserver(const bool& useNTP, const std::vector<std::string>& ntpServers) {
    SetTimeserver(Timeserver{useNTP, ntpServers});
}

}  // namespace Varkon::QUILApi

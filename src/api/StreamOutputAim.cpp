#include <quil/Quil.h>

#include <stdexcept>
#include <utility>

#include "api/LocalAddresses.h"

namespace Varkon::QUILApi {

StreamOutputAim::StreamOutputAim(Quil& client, unsigned short port, std::vector<uint32_t> dataIds,
                                 std::string localAddress)
    : client(client),
      localAddress(localAddress.empty() ? LocalAddressTowards(client.GetHost())
                                        : std::move(localAddress)),
      savedInterfaces(client.GetProcessInterfaces()),
      savedStreamData(client.GetUDPStreamData()) {
    // The data ids first: the output then starts with the right ones.
    client.SetUDPStreamData(UDPStreamData{std::move(dataIds)});
    try {
        ProcessInterfaces aimed = savedInterfaces;
        aimed.enableUDPStreaming = true;
        aimed.udpDestinationIP = this->localAddress;
        aimed.udpDestinationPort = port;
        client.SetProcessInterfaces(aimed);
    } catch (...) {
        try {
            client.SetUDPStreamData(savedStreamData);
        } catch (...) {
            // The first failure is the one to report; the sensor may be gone altogether.
        }
        throw;
    }
}

StreamOutputAim::~StreamOutputAim() {
    try {
        Restore();
    } catch (...) {
        // A destructor must not throw; Restore reports the failure to those who call it.
    }
}

void StreamOutputAim::Restore() {
    std::string failures;
    const auto attempt = [&](bool& done, const char* resource, auto write) {
        if (done) {
            return;
        }
        try {
            write();
            done = true;
        } catch (const std::exception& e) {
            failures += (failures.empty() ? "" : "; ") +
                        std::string("Could not restore the sensor's ") + resource + ": " + e.what();
        }
    };
    // The output first, so that it stops coming here even if the data ids cannot be put back.
    attempt(interfacesRestored, "ProcessInterfaces",
            [&] { client.SetProcessInterfaces(savedInterfaces); });
    attempt(streamDataRestored, "UDPStreamData", [&] { client.SetUDPStreamData(savedStreamData); });
    if (!failures.empty()) {
        throw std::runtime_error(failures);
    }
}

std::string StreamOutputAim::LocalAddressTowards(const std::string& host) {
    return QUILApi::LocalAddressTowards(host);
}

}  // namespace Varkon::QUILApi

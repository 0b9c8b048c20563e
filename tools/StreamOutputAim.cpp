#include "StreamOutputAim.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace QuilTool {

using Varkon::QUILApi::ProcessInterfaces;
using Varkon::QUILApi::UDPStreamData;

std::string StreamOutputAim::LocalAddressTowards(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), "80", &hints, &found);
    if (resolved != 0 || found == nullptr) {
        throw std::runtime_error("No route to " + host + ": " + gai_strerror(resolved));
    }
    // Connecting a UDP socket sends nothing; it only picks the route and the local address.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool ok = fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
    const int error = errno;
    if (fd >= 0) {
        close(fd);
    }
    freeaddrinfo(found);
    if (!ok) {
        throw std::runtime_error("No route to " + host + ": " + std::strerror(error));
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return text;
}

StreamOutputAim::StreamOutputAim(Varkon::QUILApi::Quil& client, const std::string& host,
                                 unsigned short port, std::vector<uint32_t> dataIds,
                                 std::string address)
    : client(client),
      localAddress(address.empty() ? LocalAddressTowards(host) : std::move(address)),
      savedInterfaces(client.GetProcessInterfaces()),
      savedStreamData(client.GetUDPStreamData()) {
    client.SetUDPStreamData(UDPStreamData{std::move(dataIds)});
    ProcessInterfaces aimed = savedInterfaces;
    aimed.enableUDPStreaming = true;
    aimed.udpDestinationIP = localAddress;
    aimed.udpDestinationPort = port;
    try {
        client.SetProcessInterfaces(aimed);
    } catch (...) {
        try {
            client.SetUDPStreamData(savedStreamData);
        } catch (const std::exception&) {
        }
        throw;
    }
}

StreamOutputAim::~StreamOutputAim() {
    try {
        Restore();
    } catch (const std::exception&) {
    }
}

void StreamOutputAim::Restore() {
    if (restored) {
        return;
    }
    restored = true;
    std::string reasons;
    try {
        client.SetProcessInterfaces(savedInterfaces);
    } catch (const std::exception& e) {
        reasons = std::string("Could not restore the sensor's ProcessInterfaces: ") + e.what();
    }
    try {
        client.SetUDPStreamData(savedStreamData);
    } catch (const std::exception& e) {
        reasons += (reasons.empty() ? "" : "; ") +
                   std::string("Could not restore the sensor's UDPStreamData: ") + e.what();
    }
    if (!reasons.empty()) {
        throw std::runtime_error(reasons);
    }
}

}  // namespace QuilTool

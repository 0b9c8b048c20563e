#pragma once

/// @file
/// A sensor's address as it is written: "host" or "host:port", the port being the one of the
/// sensor's WebSocket service.

#include <algorithm>
#include <cctype>
#include <string>

namespace Varkon::QUILApi {

/// A sensor's host and the port of its WebSocket service.
struct SensorAddress {
    std::string host;         ///< name or address, without brackets
    std::string port = "80";  ///< the port of the sensor's WebSocket service
};

/// Splits "host:port" ("[IPv6 address]:port"). Any other text (a name, an IPv4 address, a bare
/// IPv6 address with its many colons, or a port that is no number from 1 to 65535 after the last
/// colon) is a host on port 80. Quil::Create reads its `host` this way.
inline SensorAddress SplitSensorAddress(const std::string& address) {
    const auto colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return {address};
    }
    const std::string port = address.substr(colon + 1);
    const bool isPort = !port.empty() && port.size() <= 5 &&
                        std::all_of(port.begin(), port.end(),
                                    [](unsigned char c) { return std::isdigit(c) != 0; }) &&
                        std::stoul(port) >= 1 && std::stoul(port) <= 65535;
    if (!isPort) {
        return {address};
    }
    const std::string host = address.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return {host.substr(1, host.size() - 2), port};
    }
    if (host.find(':') != std::string::npos) {  // a bare IPv6 address
        return {address};
    }
    return {host, port};
}

}  // namespace Varkon::QUILApi

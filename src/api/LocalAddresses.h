#pragma once

#include <string>

namespace Varkon::QUILApi {

// This host's IPv4 address on the route to `host`. Nothing is sent: connecting a datagram socket
// only chooses the route.
// Throws std::runtime_error "No route to <host>: <reason>".
std::string LocalAddressTowards(const std::string& host);

// Whether `address` (IPv4 text) is one of this host's addresses: a socket can be bound to it.
bool IsLocalAddress(const std::string& address);

}  // namespace Varkon::QUILApi

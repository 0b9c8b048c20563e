#pragma once

// Why no connection to a sensor opens. The library reports only that it failed; trying one
// plain TCP connection to the same address and port tells why.

#include <chrono>
#include <string>

namespace QuilTool {

/// "could not connect to <host> port <port>: <why>" for the sensor at `address` ("host" or
/// "host:port"), where why is a refused connection, no route, a time-out (after `limit`) or a
/// name not found; or that a connection opens there but no sensor answers on it.
std::string ExplainNoConnection(const std::string& address, std::chrono::milliseconds limit);

}  // namespace QuilTool

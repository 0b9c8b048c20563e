#pragma once

/// @file
/// Why no connection to a sensor opens. Quil::Connect reports only that it failed ("Could not
/// connect to host ..."); one plain TCP connection to the same address and port tells why, in
/// words a program can show its user.

#include <quil/Quil.h>

#include <chrono>
#include <string>

namespace Varkon::QUILApi {

/// Why no connection opens to the sensor at `address` ("host" or "host:port", as Quil::Create
/// reads it), found by trying one TCP connection there for at most `limit`: "connection refused
/// (nothing accepts connections there; check the address and the port)", "no route to that
/// address", "timed out (nothing answered)", "name not found", the system's words for another
/// error, or, when the connection opens, that no sensor answered on it.
QUIL_API std::string WhyNoConnection(const std::string& address, std::chrono::milliseconds limit);

}  // namespace Varkon::QUILApi

// A sensor's failures in words for the gateway's lines: what happened, where and what to do.
// The library's texts are fixed; they are worded here as the quil tool words them
// (tools/Failure.cpp), with the configuration's keys as what to change.
#pragma once

#include "Configuration.h"

#include <chrono>
#include <string>

namespace Varkon::QuilGateway {

/// `failure`, a library text about `sensor`, in words. A connection that does not open is
/// looked at with one plain TCP connection (at most `probeLimit`) to tell why. Texts that differ
/// only in what does not concern the user (a request's number) give the same words; texts not
/// known pass unchanged.
std::string ExplainSensorFailure(const std::string& failure, const SensorSettings& sensor,
                                 std::chrono::milliseconds probeLimit);

}  // namespace Varkon::QuilGateway

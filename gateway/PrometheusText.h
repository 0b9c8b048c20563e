// The gateway's counters and gauges in Prometheus' text format.
#pragma once

#include "DeviceMetrics.h"

#include <quil/view/ViewServer.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Varkon::QuilGateway {

struct GatewayFigures {
    std::vector<std::pair<std::string, DeviceState>> sensors;  // by sensor name
    bool brokerConnected = false;
    uint64_t brokerTakenOver = 0;
    uint64_t publishSent = 0;
    uint64_t publishDropped = 0;
    uint64_t publishSuperseded = 0;
    uint64_t publishQueueBytes = 0;
    uint64_t publishQueueMessages = 0;
    std::optional<Varkon::QUILApi::View::ViewCounters> http;  // with an HTTP port
};

std::string PrometheusText(const GatewayFigures& figures);

}  // namespace Varkon::QuilGateway

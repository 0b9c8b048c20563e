// What the gateway answers on its HTTP port beside the live view's page: /healthz (the process
// runs), /readyz (the broker is connected and every sensor streams), /metrics (Prometheus text
// format); and a POST of /blackbox/<sensor>?name=<name> keeps the sensor's black box as a named
// recording.
#pragma once

#include "BlackBox.h"

#include <quil/view/ViewServer.h>

#include <functional>
#include <string>

namespace Varkon::QuilGateway {

struct HealthSources {
    std::function<bool()> ready;
    std::function<std::string()> metrics;
    std::function<KeepAnswer(const std::string& sensor, const std::string& name)> keep;
};

/// The answer to `method` ("GET") of `target` ("/metrics"); "not found" for any other target.
Varkon::QUILApi::View::HttpAnswer AnswerHealthRequest(const HealthSources& sources,
                                                      const std::string& method,
                                                      const std::string& target);

}  // namespace Varkon::QuilGateway

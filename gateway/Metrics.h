// Named values as a Sparkplug device or node reports them.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace Varkon::QuilGateway {

using MetricValue = std::variant<bool, int64_t, uint64_t, double, std::string>;

struct Metric {
    std::string name;
    MetricValue value;
};

using Metrics = std::vector<Metric>;

}  // namespace Varkon::QuilGateway

#include "MetricChanges.h"

#include <cmath>

namespace Varkon::QuilGateway {
namespace {

// Values compare as they print: an unknown (NaN) value stays unchanged while it stays unknown.
bool Same(const MetricValue& a, const MetricValue& b) {
    const double* x = std::get_if<double>(&a);
    const double* y = std::get_if<double>(&b);
    if (x != nullptr && y != nullptr && std::isnan(*x) && std::isnan(*y)) {
        return true;
    }
    return a == b;
}

}  // namespace

Metrics MetricChanges::Take(const Metrics& current) {
    Metrics changed;
    for (const Metric& metric : current) {
        const auto found = published.find(metric.name);
        if (found == published.end() || !Same(found->second, metric.value)) {
            changed.push_back(metric);
            published[metric.name] = metric.value;
        }
    }
    return changed;
}

void MetricChanges::Publish(const Metrics& current) {
    for (const Metric& metric : current) {
        published[metric.name] = metric.value;
    }
}

}  // namespace Varkon::QuilGateway

// Which metrics changed since they were last published: a DDATA carries only those.
#pragma once

#include "Metrics.h"

#include <map>

namespace Varkon::QuilGateway {

class MetricChanges {
public:
    /// The metrics of `current` whose value differs from the one last taken (all, the first
    /// time or after Forget); remembers `current` as taken.
    Metrics Take(const Metrics& current);
    /// Remembers `current` as published in full (a birth).
    void Publish(const Metrics& current);
    void Forget() { published.clear(); }

private:
    std::map<std::string, MetricValue> published;
};

}  // namespace Varkon::QuilGateway

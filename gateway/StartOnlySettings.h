// The settings a running gateway takes only when it starts: the broker, its place in the
// Sparkplug namespace, the HTTP port and the publish queue. A reload leaves them as they are.
#pragma once

#include "Configuration.h"

#include <string>
#include <vector>

namespace Varkon::QuilGateway {

/// The keys of the settings taken only at start that differ between `running` and `next`, in
/// the file's order ("broker", "group_id", "node_id", "http_port", ...).
std::vector<std::string> StartOnlyChanges(const Configuration& running, const Configuration& next);

/// How a reload's line tells them: "; node_id and http_port change at the next start", or
/// empty when there are none.
std::string AtNextStart(const std::vector<std::string>& keys);

}  // namespace Varkon::QuilGateway

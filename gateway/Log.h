// The gateway's messages to its operator: one line each on standard error, whole even when
// several threads write at once.
#pragma once

#include <string>

namespace Varkon::QuilGateway {

void LogLine(const std::string& line);

}  // namespace Varkon::QuilGateway

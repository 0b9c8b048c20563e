// The gateway's messages to its operator: one line each on standard error, whole even when
// several threads write at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Varkon::QuilGateway {

void LogLine(const std::string& line);

/// The longest part of a text from outside that Quoted shows.
inline constexpr std::size_t kQuotedMost = 64;

/// Text from outside (a name in a command or a request) as it goes into a log line or an
/// answer: in double quotes, every byte but printable ASCII escaped (\n, \", \\, \xNN), so that
/// it can neither break the line nor pass for another one, and cut after kQuotedMost bytes with
/// its length told: "abc..." (5000 bytes).
std::string Quoted(std::string_view text);

}  // namespace Varkon::QuilGateway

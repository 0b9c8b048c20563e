// The gateway's messages to its operator: one line each on standard error, whole even when
// several threads write at once, and starting with the local time unless journald takes them
// (which stamps them itself).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace Varkon::QuilGateway {

void LogLine(const std::string& line);

/// `when` in local time as ISO 8601 with milliseconds: "2025-03-01T14:03:07.250+01:00".
std::string LocalTimeStamp(std::chrono::system_clock::time_point when);

/// Whether the file `fd` is the stream to journald that `journalStream` ($JOURNAL_STREAM,
/// "<device>:<inode>" as systemd sets it; may be null) names. A program it starts with its
/// standard error elsewhere inherits the variable, but not the stream.
bool IsJournalStream(const char* journalStream, int fd);

/// The longest part of a text from outside that Quoted shows.
inline constexpr std::size_t kQuotedMost = 64;

/// Text from outside (a name in a command or a request) as it goes into a log line or an
/// answer: in double quotes, every byte but printable ASCII escaped (\n, \", \\, \xNN), so that
/// it can neither break the line nor pass for another one, and cut after kQuotedMost bytes with
/// its length told: "abc..." (5000 bytes).
std::string Quoted(std::string_view text);

}  // namespace Varkon::QuilGateway

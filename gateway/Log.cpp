#include "Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>

namespace Varkon::QuilGateway {

void LogLine(const std::string& line) {
    static const bool toJournal = IsJournalStream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO);
    static std::mutex mutex;
    const std::string stamp =
        toJournal ? std::string() : LocalTimeStamp(std::chrono::system_clock::now()) + " ";
    const std::lock_guard<std::mutex> lock(mutex);
    std::cerr << stamp << "quil-gateway: " << line << std::endl;
}

std::string LocalTimeStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  when - std::chrono::system_clock::from_time_t(seconds))
                                  .count();
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long away = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, static_cast<int>(milliseconds),
                  offsetMinutes < 0 ? '-' : '+', away / 60, away % 60);
    return text;
}

bool IsJournalStream(const char* journalStream, int fd) {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    struct stat file {};
    return journalStream != nullptr &&
           std::sscanf(journalStream, "%llu:%llu", &device, &inode) == 2 && fstat(fd, &file) == 0 &&
           file.st_dev == device && file.st_ino == inode;
}

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text.substr(0, kQuotedMost)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (byte < 0x20 || byte > 0x7e) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    if (text.size() > kQuotedMost) {
        return quoted + "...\" (" + std::to_string(text.size()) + " bytes)";
    }
    return quoted + "\"";
}

}  // namespace Varkon::QuilGateway

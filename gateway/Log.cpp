#include "Log.h"

#include <cstdio>
#include <iostream>
#include <mutex>

namespace Varkon::QuilGateway {

void LogLine(const std::string& line) {
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    std::cerr << "quil-gateway: " << line << std::endl;
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

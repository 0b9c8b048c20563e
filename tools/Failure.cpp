#include "Failure.h"

#include <CLI/CLI.hpp>

namespace QuilTool {
namespace {

// The text between `open` and the next `close` after `from`; empty when there is none.
std::string Between(const std::string& text, const std::string& open, char close,
                    std::size_t from = 0) {
    const auto start = text.find(open, from);
    if (start == std::string::npos) {
        return {};
    }
    const auto begin = start + open.size();
    const auto end = text.find(close, begin);
    return end == std::string::npos ? std::string() : text.substr(begin, end - begin);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

std::string Explain(const std::exception& failure, const FailureContext& context) {
    const std::string text = failure.what();
    const std::string role = context.role.empty() ? "observer" : context.role;
    // The library's refusal texts: "<GET|SET> returned an error: <reason>".
    const auto reasonAt = text.find(" returned an error: ");
    if (reasonAt != std::string::npos) {
        const bool reading = text.compare(0, reasonAt, "GET") == 0;
        if (Contains(text, "You password was wrong for role <")) {
            return "wrong password for role " +
                   Quoted(Between(text, "wrong for role <", '>', reasonAt));
        }
        if (Contains(text, "Your role is already used by <")) {
            return "role " + Quoted(role) + " is held by another session (" +
                   Between(text, "already used by <", '>', reasonAt) + "); it must log out first";
        }
        if (Contains(text, "Your role is not allowed to access resource <")) {
            const std::string resource = Between(text, "access resource <", '>', reasonAt);
            const std::string needed = Between(text, "you need role <", '>', reasonAt);
            std::string words = "role " + Quoted(role) + " may not " +
                                (reading ? "read " : "change ") + Quoted(resource);
            if (!needed.empty()) {
                words += "; it needs role " + Quoted(needed) + " (give --role " + needed + ")";
            }
            return words;
        }
        if (Contains(text, "Invalid parameters passed for resource <")) {
            return "the sensor refused the " + std::string(reading ? "request for " : "value of ") +
                   Quoted(Between(text, "for resource <", '>', reasonAt));
        }
    }
    if (text.rfind("No matching response found", 0) == 0) {
        return "the sensor at " + context.host + " did not answer in time";
    }
    return text;
}

int ExitStatusOf(const std::exception& failure) {
    if (dynamic_cast<const UsageError*>(&failure) || dynamic_cast<const InvalidValue*>(&failure) ||
        dynamic_cast<const CLI::ParseError*>(&failure)) {
        return kUsage;
    }
    if (dynamic_cast<const DataLost*>(&failure)) {
        return kDataLost;
    }
    if (dynamic_cast<const Interrupted*>(&failure)) {
        return kInterrupted;
    }
    return kFailure;
}

}  // namespace QuilTool

#include "Failure.h"

#include "Files.h"

#include <quil/ConnectionProbe.h>
#include <quil/SensorAddress.h>

#include <CLI/CLI.hpp>

namespace QuilTool {
namespace {

// How long the look at why no connection opened may take.
constexpr std::chrono::milliseconds kProbeLimit{2000};

// The text between `open` and the next `close`; empty when there is none.
std::string Between(const std::string& text, const std::string& open, char close) {
    const auto start = text.find(open);
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

// The library's refusal texts, "<GET|SET> returned an error: <reason>", in words; empty for
// other texts.
std::string ExplainRefusal(const std::string& text, bool reading, const std::string& role) {
    if (Contains(text, "You password was wrong for role <")) {
        return "wrong password for role " + Quoted(Between(text, "wrong for role <", '>'));
    }
    if (Contains(text, "Your role is already used by <")) {
        return "role " + Quoted(role) + " is held by another session (" +
               Between(text, "already used by <", '>') + "); it must log out first";
    }
    if (Contains(text, "Your role is not allowed to access resource <")) {
        const std::string resource = Between(text, "access resource <", '>');
        const std::string needed = Between(text, "you need role <", '>');
        std::string words = "role " + Quoted(role) + " may not " + (reading ? "read " : "change ") +
                            Quoted(resource);
        if (!needed.empty()) {
            words += "; it needs role " + Quoted(needed) + " (give --role " + needed + ")";
        }
        return words;
    }
    if (Contains(text, "Invalid parameters passed for resource <myRole>")) {
        return "the sensor knows no role " + Quoted(role) +
               "; the roles are observer, operator and maintenance";
    }
    if (Contains(text, "Invalid parameters passed for resource <ReadSingleSetting>")) {
        return "the sensor has no setup of that number (quil setup list shows how many it has)";
    }
    if (Contains(text, "Invalid parameters passed for resource <")) {
        return "the sensor refused the " + std::string(reading ? "request for " : "value of ") +
               Quoted(Between(text, "for resource <", '>'));
    }
    return {};
}

}  // namespace

std::string Explain(const std::exception& failure, const FailureContext& context) {
    const std::string text = failure.what();
    const std::string role = context.role.empty() ? "observer" : context.role;
    // A refusal may come with what the tool was doing in front: "Could not restore ...: ".
    const auto reasonAt = text.find(" returned an error: ");
    if (reasonAt != std::string::npos) {
        const auto typeAt = text.rfind(' ', reasonAt - 1);
        const std::size_t start = typeAt == std::string::npos ? 0 : typeAt + 1;
        const bool reading = text.compare(start, reasonAt - start, "GET") == 0;
        const std::string words = ExplainRefusal(text.substr(reasonAt), reading, role);
        if (!words.empty()) {
            return text.substr(0, start) + words;
        }
    }
    if (text.rfind("Could not connect to host ", 0) == 0) {
        const auto sensor = Varkon::QUILApi::SplitSensorAddress(context.host);
        return "could not connect to " + sensor.host + " port " + sensor.port + ": " +
               Varkon::QUILApi::WhyNoConnection(context.host, kProbeLimit);
    }
    if (text.rfind("UdpTransport::Open Error: bind: ", 0) == 0) {
        const std::string port = context.udpPort == 0
                                     ? std::string("the stream's local UDP port")
                                     : "local UDP port " + std::to_string(context.udpPort);
        return "cannot receive the stream on " + port + ": " +
               (Contains(text, "in use") ? "another program uses it" : text.substr(32)) +
               "; choose another with --port";
    }
    for (const char* prefix : {"SaveImage: cannot open ", "SaveImage: cannot write "}) {
        if (text.rfind(prefix, 0) == 0) {
            std::string file = text.substr(std::string(prefix).size());
            file = file.substr(0, file.rfind(" for writing"));
            return "cannot write " + file + WhyNotWritable(file);
        }
    }
    if (text.rfind("No matching response found", 0) == 0) {
        return "the sensor at " + context.host + " did not answer in time";
    }
    // The library knows a lost connection at once, so a put-back after it fails this way.
    if (text.rfind("Could not restore the sensor's ", 0) == 0 &&
        text.find("No matching response found") != std::string::npos) {
        return "could not put the sensor's UDP output back: the sensor at " + context.host +
               " did not answer; its UDP output may still be aimed at this host (see quil get "
               "process-interfaces)";
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

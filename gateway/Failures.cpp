#include "Failures.h"

#include "Log.h"

#include <quil/ConnectionProbe.h>
#include <quil/SensorAddress.h>

namespace Varkon::QuilGateway {
namespace {

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

bool StartsWith(const std::string& text, const std::string& part) {
    return text.rfind(part, 0) == 0;
}

std::string Where(const SensorSettings& sensor) {
    const auto address = Varkon::QUILApi::SplitSensorAddress(sensor.host);
    return address.host + " port " + address.port;
}

// The library's refusal texts, "<GET|SET> returned an error: <reason>", in words; empty for
// other texts.
std::string ExplainRefusal(const std::string& text, bool reading, const std::string& role) {
    if (Contains(text, "You password was wrong for role <")) {
        return "wrong password for role " + Quoted(Between(text, "wrong for role <", '>')) +
               " (check its password_file)";
    }
    if (Contains(text, "Your role is already used by <")) {
        return "role " + Quoted(role) + " is held by another session (" +
               Between(text, "already used by <", '>') + "); it must log out first";
    }
    if (Contains(text, "Your role is not allowed to access resource <")) {
        std::string words = "role " + Quoted(role) + " may not " + (reading ? "read " : "change ") +
                            Quoted(Between(text, "access resource <", '>'));
        if (const std::string needed = Between(text, "you need role <", '>'); !needed.empty()) {
            words += "; it needs role " + Quoted(needed) + " (role: " + needed + ")";
        }
        return words;
    }
    if (Contains(text, "Invalid parameters passed for resource <myRole>")) {
        return "the sensor knows no role " + Quoted(role) +
               "; the roles are observer, operator and maintenance";
    }
    if (Contains(text, "Invalid parameters passed for resource <")) {
        return "the sensor refused the " + std::string(reading ? "request for " : "value of ") +
               Quoted(Between(text, "for resource <", '>'));
    }
    return {};
}

}  // namespace

std::string ExplainSensorFailure(const std::string& text, const SensorSettings& sensor,
                                 std::chrono::milliseconds probeLimit) {
    // A refusal may come with what the gateway was doing in front: "its settings from ...: ".
    const auto reasonAt = text.find(" returned an error: ");
    if (reasonAt != std::string::npos) {
        const auto typeAt = text.rfind(' ', reasonAt - 1);
        const std::size_t start = typeAt == std::string::npos ? 0 : typeAt + 1;
        const bool reading = text.compare(start, reasonAt - start, "GET") == 0;
        const std::string words = ExplainRefusal(text.substr(reasonAt), reading, sensor.role);
        if (!words.empty()) {
            return text.substr(0, start) + words;
        }
    }
    if (StartsWith(text, "Could not connect to host ")) {
        return "could not connect to " + Where(sensor) + ": " +
               Varkon::QUILApi::WhyNoConnection(sensor.host, probeLimit);
    }
    if (StartsWith(text, "UdpTransport::Open Error: bind: ")) {
        return "cannot receive its stream on UDP port " + std::to_string(sensor.udpPort) + ": " +
               (Contains(text, "in use")
                    ? "another program uses it"
                    : text.substr(std::strlen("UdpTransport::Open Error: bind: "))) +
               "; give the sensor another udp_port";
    }
    // The library knows a lost connection at once, so a put-back after it fails this way.
    if (StartsWith(text, "Could not restore the sensor's ") &&
        Contains(text, "No matching response found")) {
        return "could not put its UDP output back: no answer from " + Where(sensor) +
               "; its UDP output may still be aimed at this host (see quil get "
               "process-interfaces)";
    }
    if (Contains(text, "No matching response found")) {
        return "no answer from " + Where(sensor) +
               " in time (is the sensor on, and is this its "
               "address?)";
    }
    return text;
}

}  // namespace Varkon::QuilGateway

#include "PrometheusText.h"

#include <cstdio>
#include <functional>
#include <optional>

namespace Varkon::QuilGateway {
namespace {

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

struct SensorFamily {
    const char* name;
    const char* type;
    const char* help;
    std::function<std::optional<double>(const DeviceState&)> value;  // none: no sample
};

uint64_t ProfilesReceived(const DeviceState& state) {
    const auto& c = state.counters;
    return c.profileBlocks1 + c.profileBlocks2 + c.profileBlocks3;
}

const SensorFamily kSensorFamilies[] = {
    {"quil_sensor_connected", "gauge", "1 while the sensor is connected and aimed here.",
     [](const DeviceState& s) { return s.connected ? 1.0 : 0.0; }},
    {"quil_sensor_settings_refused", "gauge",
     "1 while the sensor refuses its settings document (the gateway tries again).",
     [](const DeviceState& s) { return s.settingsRefused ? 1.0 : 0.0; }},
    {"quil_profiles_received_total", "counter", "Profiles the sensor's stream delivered.",
     [](const DeviceState& s) { return static_cast<double>(ProfilesReceived(s)); }},
    {"quil_measurements_received_total", "counter", "Measurement blocks the stream delivered.",
     [](const DeviceState& s) { return static_cast<double>(s.counters.measurementBlocks); }},
    {"quil_blocks_lost_total", "counter", "Blocks the stream never received.",
     [](const DeviceState& s) { return static_cast<double>(s.counters.blocksLost); }},
    {"quil_kernel_drops_total", "counter", "Datagrams the system dropped for a full buffer.",
     [](const DeviceState& s) { return static_cast<double>(s.counters.kernelDrops); }},
    {"quil_foreign_datagrams_total", "counter",
     "Datagrams from another sender than the sensor, dropped.",
     [](const DeviceState& s) { return static_cast<double>(s.counters.datagramsOtherSender); }},
    {"quil_queue_drops_total", "counter", "Entries the stream's queues dropped.",
     [](const DeviceState& s) {
         const auto& c = s.counters;
         return static_cast<double>(c.profilesDropped + c.measurementsDropped + c.errorsDropped);
     }},
    {"quil_profiles_published_total", "counter", "Profiles handed to the broker.",
     [](const DeviceState& s) { return static_cast<double>(s.profilesPublished); }},
    {"quil_black_box_bytes", "gauge", "Bytes the sensor's black box takes on disk.",
     [](const DeviceState& s) -> std::optional<double> {
         if (!s.blackBoxBytes) {
             return std::nullopt;
         }
         return static_cast<double>(*s.blackBoxBytes);
     }},
    {"quil_black_box_window_seconds", "gauge",
     "Seconds the pieces of the sensor's black box span on disk.",
     [](const DeviceState& s) { return s.blackBoxWindowSeconds; }},
    {"quil_sensor_reconnections_total", "counter",
     "Times the sensor streamed again after it was lost.",
     [](const DeviceState& s) { return static_cast<double>(s.reconnections); }},
    {"quil_clock_offset_seconds", "gauge",
     "This host's clock minus the sensor's, from the least delayed of the latest profiles.",
     [](const DeviceState& s) -> std::optional<double> {
         if (!s.clockOffsetUs) {
             return std::nullopt;
         }
         return static_cast<double>(*s.clockOffsetUs) / 1e6;
     }},
};

}  // namespace

std::string PrometheusText(const GatewayFigures& figures) {
    std::string text;
    for (const SensorFamily& family : kSensorFamilies) {
        text += std::string("# HELP ") + family.name + " " + family.help + "\n";
        text += std::string("# TYPE ") + family.name + " " + family.type + "\n";
        for (const auto& [sensor, state] : figures.sensors) {
            if (const auto value = family.value(state)) {
                text += std::string(family.name) + "{sensor=\"" + sensor + "\"} " + Number(*value) +
                        "\n";
            }
        }
    }
    const auto node = [&text](const char* name, const char* type, const char* help,
                              uint64_t value) {
        text += std::string("# HELP ") + name + " " + help + "\n";
        text += std::string("# TYPE ") + name + " " + type + "\n";
        text += std::string(name) + " " + std::to_string(value) + "\n";
    };
    node("quil_broker_connected", "gauge", "1 while the MQTT broker is connected.",
         figures.brokerConnected ? 1 : 0);
    node("quil_broker_taken_over_total", "counter",
         "Connections to the broker that another client with the same client id took.",
         figures.brokerTakenOver);
    node("quil_publish_sent_total", "counter", "Messages the broker acknowledged.",
         figures.publishSent);
    node("quil_publish_dropped_total", "counter",
         "Messages that did not reach the broker: dropped by the full queue, or not acknowledged "
         "when the connection ended.",
         figures.publishDropped);
    node("quil_publish_superseded_total", "counter",
         "Sparkplug messages not sent as births taken after them went out first.",
         figures.publishSuperseded);
    node("quil_publish_queue_bytes", "gauge", "Bytes of the messages waiting for the broker.",
         figures.publishQueueBytes);
    node("quil_publish_queue_messages", "gauge", "Messages waiting for the broker.",
         figures.publishQueueMessages);
    if (figures.http) {
        node("quil_http_connections", "gauge", "Connections open on the HTTP port.",
             figures.http->connections);
        node("quil_http_connections_evicted_total", "counter",
             "Connections closed to make room for newer ones.", figures.http->connectionsEvicted);
        node("quil_http_connections_refused_total", "counter",
             "Connections closed at once because every one open was a watching browser.",
             figures.http->connectionsRefused);
        node("quil_http_requests_refused_total", "counter",
             "Requests refused as coming from another site's page or under a foreign host name.",
             figures.http->requestsRefused);
    }
    return text;
}

}  // namespace Varkon::QuilGateway

#include "DeviceMetrics.h"

#include "SparkplugPayloads.h"

#include <limits>

namespace Varkon::QuilGateway {
namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

double Milliseconds(const std::optional<int64_t>& microseconds) {
    return microseconds ? static_cast<double>(*microseconds) / 1000.0 : kUnknown;
}

std::string DataIds(const std::vector<uint32_t>& ids) {
    std::string text;
    for (uint32_t id : ids) {
        text += (text.empty() ? "" : ",") + std::to_string(id);
    }
    return text;
}

}  // namespace

Metrics DeviceMetrics(const SensorSettings& settings, const DeviceState& state) {
    const auto& counters = state.counters;
    Metrics metrics{
        {"Identity/Address", settings.host},
        {"Identity/Sensor Type", state.identity.sensorType},
        {"Identity/Serial Number", state.identity.serialNumber},
        {"Identity/Vendor", state.identity.vendorName},
        {"Identity/Firmware", state.identity.aggregateVersion},
        {"Connection/Connected", state.connected},
        {"Connection/Reconnections", state.reconnections},
        {"Stream/Profiles Received",
         counters.profileBlocks1 + counters.profileBlocks2 + counters.profileBlocks3},
        {"Stream/Measurements Received", counters.measurementBlocks},
        {"Stream/Blocks Lost", counters.blocksLost},
        {"Stream/Kernel Drops", counters.kernelDrops},
        {"Stream/Foreign Datagrams", counters.datagramsOtherSender},
        {"Stream/Queue Drops",
         counters.profilesDropped + counters.measurementsDropped + counters.errorsDropped},
        {"Stream/Profiles Published", state.profilesPublished},
        {"Clock/Offset ms", Milliseconds(state.clockOffsetUs)},
        {"Clock/Offset Spread ms", Milliseconds(state.clockSpreadUs)},
        {"Settings/Data IDs", DataIds(settings.dataIds)},
        {"Settings/UDP Port", uint64_t{settings.udpPort}},
        {"Settings/Profiles Per Message", uint64_t{settings.profilesPerMessage}},
        {"Settings/Decimation", uint64_t{settings.decimation}},
        {"Settings/Compression",
         std::string(settings.compression == Compression::Zstd ? "zstd" : "none")},
    };
    const auto& measurement = state.measurement;
    for (std::size_t i = 0; i < 7; ++i) {
        metrics.push_back({"Measurement/Value " + std::to_string(i),
                           measurement ? measurement->values[i] : kUnknown});
    }
    metrics.push_back({"Measurement/Quality", uint64_t{measurement ? measurement->qualityID : 0}});
    metrics.push_back(
        {"Measurement/Encoder", uint64_t{measurement ? measurement->EncoderValue : 0}});
    metrics.push_back({"Measurement/Timestamp us", measurement ? measurement->timestamp : 0});
    if (settings.blackBox) {
        metrics.push_back({"Black Box/Bytes", state.blackBoxBytes.value_or(0)});
        metrics.push_back({"Black Box/Window Seconds", state.blackBoxWindowSeconds.value_or(0.0)});
        metrics.push_back({kLastKeptMetric, state.blackBoxLastKept});
    }
    return metrics;
}

}  // namespace Varkon::QuilGateway

// What a sensor reports as a Sparkplug device: its identity, whether it streams, its stream's
// counters, its clock offset, its active settings and its latest measurement values. A DBIRTH
// carries all of them; a DDATA those that changed (MetricChanges).
#pragma once

#include "Configuration.h"
#include "Metrics.h"

#include <quil/Quil.h>

#include <optional>

namespace Varkon::QuilGateway {

struct DeviceState {
    Varkon::QUILApi::SensorMetaData identity;
    bool connected = false;
    bool settingsRefused = false;  // the sensor's settings document was refused at the last try
    Varkon::QUILApi::UdpStreaming::StreamStatistics counters;
    uint64_t profilesPublished = 0;
    std::optional<int64_t> clockOffsetUs;
    std::optional<int64_t> clockSpreadUs;
    std::optional<Varkon::QUILApi::UdpStreaming::StreamMeasurement> measurement;
    uint64_t reconnections = 0;  // times the sensor was streaming again after it was lost
    std::optional<uint64_t> blackBoxBytes;        // what the black box's window takes on disk
    std::optional<double> blackBoxWindowSeconds;  // the seconds its window's pieces span
    std::string blackBoxLastKept;                 // how the last request to keep it ended
};

/// Every metric of the device, in the same order each time. Values not known yet are NaN.
Metrics DeviceMetrics(const SensorSettings& settings, const DeviceState& state);

}  // namespace Varkon::QuilGateway

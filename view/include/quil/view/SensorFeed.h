#pragma once

// What the live view shows of one sensor: its stream, how to read its profiles in millimetres,
// and what the page calls it. A program that owns sensors (the tool, a gateway) hands one feed
// per sensor to a ViewServer.

#include <quil/ProfileCoordinates.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Varkon::QUILApi::View {

/// The name and unit of one measurement value (data id 0), by its index in the block.
struct MeasurementName {
    std::string name;
    std::string unit;
};

struct SensorFeed {
    SensorFeed(std::shared_ptr<UdpStreaming::QuilStream> stream, ProfileCoordinates coordinates)
        : stream(std::move(stream)), coordinates(std::move(coordinates)) {}

    /// How the chooser names the sensor, e.g. its address.
    std::string name;
    /// Vendor, type, serial number and version, in words.
    std::string identity;
    /// "live", "recording" or "virtual sensor".
    std::string kind;
    /// Started; the view takes every entry from it, on a thread of its own.
    std::shared_ptr<UdpStreaming::QuilStream> stream;
    ProfileCoordinates coordinates;
    /// How far apart the block ids of consecutive profiles lie: the number of data ids streamed.
    uint32_t blockIdStep = 1;
    /// Names of measurement values 0 to 6; values without a name are shown by number.
    std::vector<MeasurementName> measurements;
    /// Set when the page may record this sensor's stream: the options of every recording (its
    /// sensor description, read once). Unset: no record button.
    std::optional<UdpStreaming::RecordingOptions> recording;
    /// Tells whether the source has ended (a recording played to its end); may be empty.
    std::function<bool()> finished;
};

}  // namespace Varkon::QUILApi::View

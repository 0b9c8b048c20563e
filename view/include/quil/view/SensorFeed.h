#pragma once

// What the live view shows of one sensor: its stream, how to read its profiles in millimetres,
// and what the page calls it. A program that owns sensors (the tool, a gateway) hands one feed
// per sensor to a ViewServer.

#include <quil/ProfileCoordinates.h>
#include <quil/view/FeedInlet.h>

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

/// Since when (system time, microseconds since 1970) and why, in words, a sensor is away.
struct SensorAway {
    int64_t sinceMicroseconds = 0;
    std::string reason;
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
    /// Started; the view takes every entry from it, on a thread of its own, unless `inlet` is
    /// set.
    std::shared_ptr<UdpStreaming::QuilStream> stream;
    /// Set by a program that reads `stream` itself and hands the view what it takes; the view
    /// then only reads the stream's counters.
    std::shared_ptr<FeedInlet> inlet;
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

    /// Set while a program keeps the sensor on the page but cannot reach it; the page shows
    /// this before anything else. Show the feed again to change it.
    std::optional<SensorAway> away;
};

/// How far apart the block ids of consecutive profiles lie when `dataIds` are streamed: one
/// block per distinct data id.
uint32_t BlockIdStep(const std::vector<uint32_t>& dataIds);
/// "<vendor> <type>, serial <number>, version <version>": the sensor's identity on the page.
std::string IdentityText(const SensorMetaData& sensor);
/// The names and units of the measurement values as the sensor describes them; a value the
/// user did not name is called by its tool.
std::vector<MeasurementName> MeasurementNames(const std::vector<MeasurementTypeEntry>& types);

}  // namespace Varkon::QUILApi::View

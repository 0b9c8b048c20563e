#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "quil/Quil.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// The description file beside a capture: one JSON object.
//   "format": "quil recording", "formatVersion": 1, "capture": the capture's file name,
//   "stream": {"port": the stream's UDP port}, "started"/"ended" (UTC, ISO 8601, microseconds),
//   "startedMicroseconds"/"endedMicroseconds", "recording": {"datagramsWritten",
//   "datagramsDropped", "error"}, "counters": the stream's counters by name (at the end),
//   "sensor": the sensor's description, when given.
struct RecordingDescription {
    static constexpr int kFormatVersion = 1;
    // A description is a few kilobytes; this leaves room for a large sensor description.
    static constexpr std::size_t kMostBytes = 4 * 1024 * 1024;

    // "line.pcap" gives "line.json"; a name without extension gets ".json" appended.
    static std::string PathFor(const std::string& capturePath);

    static nlohmann::json Build(const RecordingStatus& status, uint16_t port,
                                const nlohmann::json& sensor,
                                const std::optional<StreamStatistics>& counters);
    // The port the description names, if it names one.
    static std::optional<uint16_t> PortOf(const std::string& descriptionText);

    // The text of the description beside the capture at `capturePath`; empty when there is none
    // or it cannot be opened.
    // @throws std::runtime_error "Could not open recording <capturePath>: its description
    //         <path> is not a regular file" (a pipe, a device), or "... is larger than 4 MiB".
    static std::string Read(const std::string& capturePath);

    // @throws std::runtime_error "Could not write <path>: <reason>".
    static void Write(const std::string& path, const nlohmann::json& description);
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

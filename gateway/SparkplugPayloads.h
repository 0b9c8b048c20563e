// Sparkplug B payloads (sparkplug_b.proto) of the node and its devices, serialized.
#pragma once

#include "Metrics.h"

#include <cstdint>
#include <string>

namespace Varkon::QuilGateway {

/// The metric names of the node's own births and deaths.
inline constexpr const char* kBirthDeathSequenceMetric = "bdSeq";
inline constexpr const char* kRebirthMetric = "Node Control/Rebirth";
/// A device command: keep the sensor's black box as the recording its text names.
inline constexpr const char* kKeepBlackBoxMetric = "Black Box/Keep";
/// A device's answer to the last keep of its black box.
inline constexpr const char* kLastKeptMetric = "Black Box/Last Kept";
/// The node's answer to the last command that no black box answered.
inline constexpr const char* kLastCommandMetric = "Node Control/Last Command";

/// NBIRTH: seq 0, "bdSeq", "Node Control/Rebirth" (false) and "Node Control/Last Command".
std::string EncodeNodeBirth(uint64_t birthDeathSequence, uint64_t timestampMs,
                            const std::string& lastCommand);
/// NDEATH: "bdSeq" alone, no seq.
std::string EncodeNodeDeath(uint64_t birthDeathSequence, uint64_t timestampMs);
/// DBIRTH, DDATA and DDEATH (no metrics): the metrics with their values, and `seq`.
std::string EncodeDevicePayload(const Metrics& metrics, uint64_t seq, uint64_t timestampMs);

}  // namespace Varkon::QuilGateway

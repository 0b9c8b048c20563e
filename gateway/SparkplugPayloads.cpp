#include "SparkplugPayloads.h"

#include "sparkplug_b.pb.h"

#include <type_traits>

namespace Varkon::QuilGateway {
namespace {

using org::eclipse::tahu::protobuf::Payload;

// The data types of sparkplug_b.proto's list.
enum DataType : uint32_t { Int64 = 4, UInt64 = 8, Double = 10, Boolean = 11, String = 12 };

void Add(Payload& payload, const Metric& metric, uint64_t timestampMs) {
    Payload::Metric& out = *payload.add_metrics();
    out.set_name(metric.name);
    out.set_timestamp(timestampMs);
    std::visit(
        [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, bool>) {
                out.set_datatype(Boolean);
                out.set_boolean_value(value);
            } else if constexpr (std::is_same_v<T, int64_t>) {
                out.set_datatype(Int64);
                out.set_long_value(static_cast<uint64_t>(value));
            } else if constexpr (std::is_same_v<T, uint64_t>) {
                out.set_datatype(UInt64);
                out.set_long_value(value);
            } else if constexpr (std::is_same_v<T, double>) {
                out.set_datatype(Double);
                out.set_double_value(value);
            } else {
                out.set_datatype(String);
                out.set_string_value(value);
            }
        },
        metric.value);
}

std::string Serialized(const Payload& payload) {
    std::string bytes;
    payload.SerializeToString(&bytes);
    return bytes;
}

}  // namespace

std::string EncodeNodeBirth(uint64_t birthDeathSequence, uint64_t timestampMs,
                            const std::string& lastCommand) {
    Payload payload;
    payload.set_timestamp(timestampMs);
    payload.set_seq(0);
    Add(payload, {kBirthDeathSequenceMetric, birthDeathSequence}, timestampMs);
    Add(payload, {kRebirthMetric, false}, timestampMs);
    Add(payload, {kLastCommandMetric, lastCommand}, timestampMs);
    return Serialized(payload);
}

std::string EncodeNodeDeath(uint64_t birthDeathSequence, uint64_t timestampMs) {
    Payload payload;
    payload.set_timestamp(timestampMs);
    Add(payload, {kBirthDeathSequenceMetric, birthDeathSequence}, timestampMs);
    return Serialized(payload);
}

std::string EncodeDevicePayload(const Metrics& metrics, uint64_t seq, uint64_t timestampMs) {
    Payload payload;
    payload.set_timestamp(timestampMs);
    payload.set_seq(seq);
    for (const Metric& metric : metrics) {
        Add(payload, metric, timestampMs);
    }
    return Serialized(payload);
}

}  // namespace Varkon::QuilGateway

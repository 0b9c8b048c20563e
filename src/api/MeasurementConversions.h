#pragma once

// Conversions of measurement data that the JSON library does not make by itself: the
// "timestamp" pair, the numbers-or-text of measurement values and the alternating "points" of
// profiles.

#include "websockets/CheckedNumbers.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

namespace Varkon::QUILApi::Measurement {

/// "timestamp" (the `key`): first element × 1,000,000 + last element, in unsigned 64-bit
/// arithmetic (seconds and microseconds give microseconds). Elements are read as uint64: numbers
/// only.
/// @throws std::domain_error "Field timestamp is not an array of at least one number." for a
///         value that is no array, or an empty one.
/// @throws nlohmann::json::type_error "type must be number, but is ..." for an element that is
///         no number (a boolean included), and "number out of range for timestamp: ..." for one
///         that uint64 cannot hold.
inline uint64_t ToTimestamp(const nlohmann::json& value, const std::string& key) {
    if (!value.is_array() || value.empty()) {
        throw std::domain_error("Field " + key + " is not an array of at least one number.");
    }
    const auto first = WebSockets::GetChecked<uint64_t>(value.front(), key);
    const auto last = WebSockets::GetChecked<uint64_t>(value.back(), key);
    return first * 1000000u + last;
}

/// One element of "values": a number as it is; the text "INF" +∞, "-INF" −∞ (exact and
/// case-sensitive), any other text a quiet NaN.
/// @throws nlohmann::json::type_error "type must be number, but is ..." for anything else.
inline double ToMeasurementValue(const nlohmann::json& value) {
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text == "INF") {
            return std::numeric_limits<double>::infinity();
        }
        if (text == "-INF") {
            return -std::numeric_limits<double>::infinity();
        }
        return std::numeric_limits<double>::quiet_NaN();
    }
    return value.get<double>();  // the library's number type error for the rest
}

/// Walks `list` like the frame's lists do (null gives no element, a single value is one).
template <class Vector, class Convert>
void AppendEach(const nlohmann::json& list, Vector& out, Convert convert) {
    if (list.is_array()) {
        out.reserve(out.size() + list.size());
    }
    for (const auto& element : list) {
        out.push_back(convert(element));
    }
}

/// "points" alternate x and z: an element goes to zValues when zValues is shorter than xValues,
/// otherwise to xValues. An odd count leaves xValues one longer.
/// @throws nlohmann::json::type_error "type must be number, but is ..." for an element that is
///         no number or boolean, and "number out of range for points: ..." for one that int32
///         cannot hold.
template <class Record>
void SplitPoints(const nlohmann::json& points, Record& record) {
    if (points.is_array()) {
        record.xValues.reserve((points.size() + 1) / 2);
        record.zValues.reserve(points.size() / 2);
    }
    for (const auto& element : points) {
        const auto value = WebSockets::GetChecked<int32_t>(element, "points");
        if (record.zValues.size() < record.xValues.size()) {
            record.zValues.push_back(value);
        } else {
            record.xValues.push_back(value);
        }
    }
}

}  // namespace Varkon::QUILApi::Measurement

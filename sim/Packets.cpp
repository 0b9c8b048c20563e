#include "Packets.h"

#include "Measurements.h"

#include <algorithm>

namespace Varkon::QUILApi::Sim {

namespace {

uint16_t Word(int32_t value) {
    return static_cast<uint16_t>(std::clamp<int32_t>(value, 0, 65535));
}

}  // namespace

Bytes MeasurementPayload(const Frame& frame) {
    const uint8_t valid = frame.quality != 2;
    MeasurementFields fields{{0, valid, frame.alarm, frame.objectPresent, frame.objectPresent,
                              frame.alarm}};
    fields.qualityId = static_cast<uint8_t>(frame.quality);
    for (std::size_t i = 0; i < 7; ++i) {
        fields.values[i] = static_cast<float>(i < frame.values.size() ? frame.values[i] : 0.0);
    }
    fields.measrate = static_cast<float>(frame.rate);
    fields.seconds = static_cast<uint32_t>(frame.timeUs / 1000000);
    fields.microseconds = static_cast<uint32_t>(frame.timeUs % 1000000);
    fields.encoder = static_cast<uint16_t>(frame.encoder);
    return MeasurementPayload(fields);
}

Bytes ProfilePayload(const Frame& frame, uint8_t dataId) {
    const bool withX = dataId == 1 || dataId == 3;
    const bool withBrightness = dataId == 2 || dataId == 3;
    ProfileFields fields{dataId, {frame.quality != 2, frame.alarm, frame.objectPresent, 0}};
    fields.qualityId = static_cast<uint8_t>(frame.quality);
    fields.field6 = static_cast<uint32_t>(frame.index);
    fields.seconds = static_cast<uint32_t>(frame.timeUs / 1000000);
    fields.microseconds = static_cast<uint32_t>(frame.timeUs % 1000000);
    fields.field18 = static_cast<uint16_t>(frame.encoder);
    fields.pointCount = static_cast<uint32_t>(frame.x.size());
    std::vector<uint16_t> words;
    words.reserve(frame.x.size() * (1 + withX + withBrightness));
    for (std::size_t i = 0; i < frame.x.size(); ++i) {
        words.push_back(frame.valid[i] ? Word(Hundredths(frame.z[i])) : uint16_t{0});
        if (withX) {
            words.push_back(Word(Hundredths(frame.x[i]) + 32768));
        }
        if (withBrightness) {
            words.push_back(static_cast<uint16_t>(frame.valid[i] ? frame.brightness[i] : 0));
        }
    }
    return ProfilePayload(fields, words);
}

}  // namespace Varkon::QUILApi::Sim

#include <quil/sim/Packets.h>

#include "Measurements.h"

#include <algorithm>

namespace Varkon::QUILApi::Sim {

namespace {

uint16_t Word(int32_t value) {
    return static_cast<uint16_t>(std::clamp<int32_t>(value, 0, 65535));
}

}  // namespace

Bytes MeasurementPayload(const Acquired& acquired) {
    const uint8_t valid = acquired.quality != 2;
    MeasurementFields fields{
        {0, valid, acquired.alarm, acquired.objectPresent, acquired.objectPresent, acquired.alarm}};
    fields.qualityId = static_cast<uint8_t>(acquired.quality);
    for (std::size_t i = 0; i < 7; ++i) {
        fields.values[i] =
            static_cast<float>(i < acquired.values.size() ? acquired.values[i] : 0.0);
    }
    fields.measrate = static_cast<float>(acquired.rate);
    fields.seconds = static_cast<uint32_t>(acquired.timeUs / 1000000);
    fields.microseconds = static_cast<uint32_t>(acquired.timeUs % 1000000);
    fields.encoder = static_cast<uint16_t>(acquired.encoder);
    return MeasurementPayload(fields);
}

Bytes ProfilePayload(const Acquired& acquired, uint8_t dataId) {
    const bool withX = dataId == 1 || dataId == 3;
    const bool withBrightness = dataId == 2 || dataId == 3;
    ProfileFields fields{dataId,
                         {acquired.quality != 2, acquired.alarm, acquired.objectPresent, 0}};
    fields.qualityId = static_cast<uint8_t>(acquired.quality);
    fields.field6 = static_cast<uint32_t>(acquired.index);
    fields.seconds = static_cast<uint32_t>(acquired.timeUs / 1000000);
    fields.microseconds = static_cast<uint32_t>(acquired.timeUs % 1000000);
    fields.field18 = static_cast<uint16_t>(acquired.encoder);
    fields.pointCount = static_cast<uint32_t>(acquired.x.size());
    std::vector<uint16_t> words;
    words.reserve(acquired.x.size() * (1 + withX + withBrightness));
    for (std::size_t i = 0; i < acquired.x.size(); ++i) {
        words.push_back(acquired.valid[i] ? Word(Hundredths(acquired.z[i])) : uint16_t{0});
        if (withX) {
            words.push_back(Word(Hundredths(acquired.x[i]) + 32768));
        }
        if (withBrightness) {
            words.push_back(static_cast<uint16_t>(acquired.valid[i] ? acquired.brightness[i] : 0));
        }
    }
    return ProfilePayload(fields, words);
}

}  // namespace Varkon::QUILApi::Sim

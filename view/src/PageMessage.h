#pragma once

// What a page may say to the server, read from its text. Anything else is not understood.

#include <cstdint>
#include <string>

namespace Varkon::QUILApi::View {

struct PageMessage {
    enum class Kind { NotUnderstood, Select, RecordStart, RecordStop };
    Kind kind = Kind::NotUnderstood;
    uint64_t sensor = 0;  // the sensor's number in the view's hello
};

/// {"type": "select", "sensor": N} or {"type": "record", "sensor": N, "action": "start"|"stop"}.
PageMessage ReadPageMessage(const std::string& text);

}  // namespace Varkon::QUILApi::View

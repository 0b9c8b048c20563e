#include "PageMessage.h"

#include <nlohmann/json.hpp>

namespace Varkon::QUILApi::View {

PageMessage ReadPageMessage(const std::string& text) {
    const auto message = nlohmann::json::parse(text, nullptr, false);
    PageMessage read;
    if (!message.is_object() || !message.contains("type") || !message.contains("sensor") ||
        !message["sensor"].is_number_unsigned()) {
        return read;
    }
    const auto& type = message["type"];
    const auto action = message.contains("action") ? message["action"] : nlohmann::json();
    if (type == "select") {
        read.kind = PageMessage::Kind::Select;
    } else if (type == "record" && action == "start") {
        read.kind = PageMessage::Kind::RecordStart;
    } else if (type == "record" && action == "stop") {
        read.kind = PageMessage::Kind::RecordStop;
    } else {
        return read;
    }
    read.sensor = message["sensor"].get<uint64_t>();
    return read;
}

}  // namespace Varkon::QUILApi::View

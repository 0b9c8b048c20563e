#include "websockets/MessageParser.h"

#include <stdexcept>

namespace Varkon::QUILApi::WebSockets {

using nlohmann::json;

nlohmann::json ParseMessage(const std::string& text) {
    // `depth` counts the arrays and objects around the value that starts.
    const json::parser_callback_t limitDepth = [](int depth, json::parse_event_t event, json&) {
        if (depth >= kMaxMessageDepth &&
            (event == json::parse_event_t::array_start ||
             event == json::parse_event_t::object_start)) {
            throw std::length_error("Message nested deeper than " +
                                    std::to_string(kMaxMessageDepth) + " levels.");
        }
        return true;
    };
    return json::parse(text, limitDepth);
}

}  // namespace Varkon::QUILApi::WebSockets

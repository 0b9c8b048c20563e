#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace Varkon::QUILApi::WebSockets {

/// Deepest nesting of arrays and objects that a received message may have. Sensor messages
/// nest a few levels; the limit keeps every later step over a message (conversion, comparison,
/// copy), some of which recurse once per level, far from the end of any thread's stack.
constexpr int kMaxMessageDepth = 128;

/// Parses a received text message, refusing one nested deeper than kMaxMessageDepth before it
/// is parsed. The parse itself uses no recursion, whatever the text.
/// @throws nlohmann::json::parse_error for text that is no JSON, and std::length_error
///         "Message nested deeper than 128 levels." otherwise; the channel drops both alike.
nlohmann::json ParseMessage(std::string_view text);

}  // namespace Varkon::QUILApi::WebSockets

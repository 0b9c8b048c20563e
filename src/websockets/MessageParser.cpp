#include "websockets/MessageParser.h"

#include <stdexcept>
#include <string>

namespace Varkon::QUILApi::WebSockets {

namespace {

// Whether `text` opens more than `limit` arrays and objects inside one another. For every text
// the JSON parser accepts, and every prefix of one, this is its nesting exactly; a text the scan
// miscounts is no JSON and fails to parse anyway. One pass over the bytes costs a small part of
// the parse; a parser callback, the other way to count, slows the parse of a profile's
// thousands of numbers by about 40 %.
bool NestedDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;  // the escaped character cannot end the string
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

nlohmann::json ParseMessage(std::string_view text) {
    if (NestedDeeperThan(text, kMaxMessageDepth)) {
        throw std::length_error("Message nested deeper than " + std::to_string(kMaxMessageDepth) +
                                " levels.");
    }
    return nlohmann::json::parse(text.begin(), text.end());
}

}  // namespace Varkon::QUILApi::WebSockets

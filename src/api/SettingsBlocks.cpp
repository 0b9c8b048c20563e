#include "api/SettingsBlocks.h"

#include <algorithm>
#include <stdexcept>

namespace Varkon::QUILApi::SettingsBlocks {
namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the valid character that starts at `at`, or 0 when none does.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const std::size_t left = text.size() - at;
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;  // range of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong form
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong form
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (left < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(byte(i))) {
            return 0;
        }
    }
    return length;
}

}  // namespace

void CheckUtf8(std::string_view blob) {
    for (std::size_t at = 0; at < blob.size();) {
        const std::size_t length = CharacterLength(blob, at);
        if (length == 0) {
            throw std::invalid_argument("Settings blob is not valid UTF-8 (byte " +
                                        std::to_string(at) + ").");
        }
        at += length;
    }
}

std::vector<std::string_view> CutBlocks(std::string_view blob, uint32_t limit) {
    std::vector<std::string_view> blocks;
    blocks.reserve(limit == 0 ? 0 : blob.size() / limit + 1);
    for (std::size_t start = 0; start < blob.size();) {
        std::size_t end = start + std::min<std::size_t>(limit, blob.size() - start);
        while (end > start && end < blob.size() &&
               IsContinuation(static_cast<unsigned char>(blob[end]))) {
            --end;
        }
        if (end == start) {
            throw std::invalid_argument("Settings block length " + std::to_string(limit) +
                                        " is smaller than the UTF-8 character at byte " +
                                        std::to_string(start) + ".");
        }
        blocks.push_back(blob.substr(start, end - start));
        start = end;
    }
    return blocks;
}

}  // namespace Varkon::QUILApi::SettingsBlocks

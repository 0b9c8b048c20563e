#pragma once

#include <cstdint>
#include <string>

namespace Varkon::QUILApi::Testing {

/// A plain Base64 encoder (RFC 4648, standard alphabet, "=" padding) to make test data with.
template <class Bytes>
std::string Base64Encode(const Bytes& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t bits = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            bits |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            bits |= static_cast<uint8_t>(bytes[i + 2]);
        text += alphabet[bits >> 18 & 63];
        text += alphabet[bits >> 12 & 63];
        text += i + 1 < bytes.size() ? alphabet[bits >> 6 & 63] : '=';
        text += i + 2 < bytes.size() ? alphabet[bits & 63] : '=';
    }
    return text;
}

}  // namespace Varkon::QUILApi::Testing

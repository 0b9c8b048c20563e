#include "api/Base64.h"

#include <cstdio>
#include <stdexcept>

namespace Varkon::QUILApi {
namespace {

// Table value of every byte that is not a letter of the alphabet ("=" included: padding is
// handled apart, so that it is refused anywhere else).
constexpr uint8_t kInvalid = 0x80;

struct DecodeTable {
    uint8_t value[256];

    constexpr DecodeTable() : value{} {
        for (auto& entry : value) {
            entry = kInvalid;
        }
        constexpr char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (uint8_t index = 0; index < 64; ++index) {
            value[static_cast<unsigned char>(kAlphabet[index])] = index;
        }
    }
};

constexpr DecodeTable kTable;

// Every lookup goes through an unsigned char, so no index leaves the table.
inline uint32_t Lookup(const unsigned char* text, std::size_t at) {
    return kTable.value[text[at]];
}

// The slow path once a group was refused: names the first offending character.
[[noreturn]] void ThrowMalformed(std::string_view text, std::size_t padding) {
    for (std::size_t at = 0; at + padding < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (kTable.value[byte] != kInvalid) {
            continue;
        }
        if (byte == '=') {
            throw std::invalid_argument("Base64Decode: Padding \"=\" at position " +
                                        std::to_string(at) +
                                        " is not at the end of the input data");
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", byte);
        throw std::invalid_argument("Base64Decode: Character " + std::string(hex) +
                                    " at position " + std::to_string(at) +
                                    " is outside the Base64 alphabet");
    }
    throw std::logic_error("Base64Decode: no malformed character found");  // unreachable
}

// The number of "=" that end the text: 0, 1 or 2 (a third one is refused by the decoding).
std::size_t Padding(std::string_view text) {
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    return padding;
}

// Checks the length and returns the size of the decoded bytes.
std::size_t DecodedSize(std::string_view text) {
    if (text.size() % 4 != 0) {
        throw std::out_of_range("Base64Decode: Input data size is not a multiple of 4");
    }
    return text.size() / 4 * 3 - Padding(text);
}

// Decodes `text` (its length a multiple of 4) into `out`, which holds DecodedSize(text) bytes.
void DecodeInto(std::string_view text, uint8_t* out) {
    if (text.empty()) {
        return;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t padding = Padding(text);
    const std::size_t groups = text.size() / 4;
    const std::size_t fullGroups = padding == 0 ? groups : groups - 1;

    // Whole groups, without a branch per group: refused characters are collected in `invalid`.
    uint32_t invalid = 0;
    for (std::size_t group = 0; group < fullGroups; ++group, in += 4, out += 3) {
        const uint32_t a = Lookup(in, 0);
        const uint32_t b = Lookup(in, 1);
        const uint32_t c = Lookup(in, 2);
        const uint32_t d = Lookup(in, 3);
        invalid |= a | b | c | d;
        const uint32_t bits = a << 18 | b << 12 | c << 6 | d;
        out[0] = static_cast<uint8_t>(bits >> 16);
        out[1] = static_cast<uint8_t>(bits >> 8);
        out[2] = static_cast<uint8_t>(bits);
    }
    if (padding != 0) {
        // The last group: two or three characters before its padding.
        const uint32_t a = Lookup(in, 0);
        const uint32_t b = Lookup(in, 1);
        const uint32_t c = padding == 1 ? Lookup(in, 2) : 0;
        invalid |= a | b | c;
        const uint32_t bits = a << 18 | b << 12 | c << 6;
        out[0] = static_cast<uint8_t>(bits >> 16);
        if (padding == 1) {
            out[1] = static_cast<uint8_t>(bits >> 8);
        }
    }
    if ((invalid & kInvalid) != 0) {
        ThrowMalformed(text, padding);
    }
}

}  // namespace

void Base64Decode(const std::string& text, std::string& bytes) {
    std::string decoded(DecodedSize(text), '\0');
    DecodeInto(text, reinterpret_cast<uint8_t*>(decoded.data()));
    bytes = std::move(decoded);
}

void Base64Decode(std::string_view text, std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> decoded(DecodedSize(text));
    DecodeInto(text, decoded.data());
    bytes = std::move(decoded);
}

}  // namespace Varkon::QUILApi

// Base64 decoding of camera pixels. Invariants: both forms of the decoder agree, fail only with
// their documented exceptions, and never give more than three bytes per four characters.
#include "api/Base64.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

template <class Bytes, class Text>
bool Decodes(const Text& text, Bytes& bytes) {
    try {
        Varkon::QUILApi::Base64Decode(text, bytes);
        return true;
    } catch (const std::out_of_range&) {
    } catch (const std::invalid_argument&) {
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string asText;
    std::vector<uint8_t> asBytes;
    const bool textDecodes = Decodes(text, asText);
    const bool bytesDecode = Decodes(std::string_view(text), asBytes);
    if (textDecodes != bytesDecode ||
        (textDecodes && (asText != std::string(asBytes.begin(), asBytes.end()) ||
                         asBytes.size() > size / 4 * 3))) {
        __builtin_trap();
    }
    return 0;
}

#pragma once

// Base64 decoding of RFC 4648 (standard alphabet, "=" padding) for the pixels of camera images.
// One pass over the text with a 256-entry lookup table, into an output sized once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Varkon::QUILApi {

/// Fills `bytes` with the decoded bytes of `text`; on failure `bytes` is left unchanged.
/// @throws std::out_of_range "Base64Decode: Input data size is not a multiple of 4"
/// @throws std::invalid_argument for a character outside the alphabet, or an "=" anywhere but
///         at the end of the last group (at most two), naming the position.
void Base64Decode(const std::string& text, std::string& bytes);

/// As above, into a byte vector (used by GetImage, so that the pixels are decoded in place).
void Base64Decode(std::string_view text, std::vector<uint8_t>& bytes);

}  // namespace Varkon::QUILApi

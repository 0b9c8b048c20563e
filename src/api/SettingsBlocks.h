#pragma once

// Cutting a settings blob into the blocks of a settings write. Blocks end at UTF-8
// character boundaries, so that every block is valid UTF-8 on its own (the JSON library refuses
// to serialise anything else) and the concatenation of the blocks is the blob.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Varkon::QUILApi::SettingsBlocks {

/// @throws std::invalid_argument "Settings blob is not valid UTF-8 (byte <n>)." naming the
///         offset of the first byte that starts no valid character (RFC 3629: no overlong forms,
///         no surrogates, nothing above U+10FFFF).
void CheckUtf8(std::string_view blob);

/// The blocks of a valid UTF-8 `blob` for a block limit of `limit` bytes (not 0): each block
/// ends at the last character boundary at or before the limit, none is longer than the limit,
/// and only the last may end the blob. An empty blob gives no block.
/// @throws std::invalid_argument "Settings block length <limit> is smaller than the UTF-8
///         character at byte <n>." when a character is longer than the limit.
std::vector<std::string_view> CutBlocks(std::string_view blob, uint32_t limit);

}  // namespace Varkon::QUILApi::SettingsBlocks

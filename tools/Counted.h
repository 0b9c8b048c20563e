#pragma once

// A count with its noun in the number that fits it: "1 block", "2 blocks".

#include <cstdint>
#include <string>

namespace QuilTool {

/// "<count> <noun>", the noun with an "s" unless the count is 1. `rest` follows the noun:
/// Counted(1, "datagram", " too short") is "1 datagram too short".
inline std::string Counted(uint64_t count, const std::string& noun, const std::string& rest = {}) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s") + rest;
}

}  // namespace QuilTool

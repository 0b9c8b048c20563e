#pragma once

// PNG files without a compressor: the image data go into stored deflate blocks.

#include <cstdint>
#include <ostream>
#include <vector>

namespace QuilTool {

/// Writes an 8-bit image of `channels` 1 (grey) or 3 (RGB) per pixel, `pixels` row by row.
void WritePng(std::ostream& out, uint32_t width, uint32_t height, int channels,
              const std::vector<uint8_t>& pixels);

}  // namespace QuilTool

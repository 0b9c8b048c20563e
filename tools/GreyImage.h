#pragma once

// Pictures of one 8-bit grey value a pixel (a camera image, bare heights), as a binary grey map
// ("P5") or as PNG.

#include <cstdint>
#include <ostream>
#include <vector>

namespace QuilTool {

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // row by row
};

enum class GreyFormat { Pgm, Png };

/// @throws std::runtime_error when cairo fails to make the PNG.
void WriteGreyImage(std::ostream& out, const GreyImage& image, GreyFormat format);

}  // namespace QuilTool

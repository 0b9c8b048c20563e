#pragma once

// A picture in memory, 8-bit RGB, with the few drawing operations that plots need: rectangles,
// lines along the axes and text in a 5x7 pixel font.

#include <cstdint>
#include <string>
#include <vector>

namespace QuilTool {

struct Colour {
    uint8_t r = 0, g = 0, b = 0;

    bool operator==(const Colour& other) const {
        return r == other.r && g == other.g && b == other.b;
    }
};

inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kWhite{255, 255, 255};

class Raster {
public:
    Raster(int width, int height, Colour background = kWhite);

    int Width() const { return width; }
    int Height() const { return height; }
    /// Pixels outside the picture are ignored.
    void Set(int x, int y, Colour colour);
    Colour At(int x, int y) const;
    void Fill(int x, int y, int w, int h, Colour colour);

    /// Text in the 5x7 font, each font pixel `scale` pixels wide; (x, y) is the top left corner.
    /// Capitals are drawn as small letters; characters without a glyph as a box.
    void Text(int x, int y, const std::string& text, int scale = 1, Colour colour = kBlack);
    /// Text turned a quarter anticlockwise, read from bottom to top; (x, y) is the top left
    /// corner of the turned text.
    void TextUp(int x, int y, const std::string& text, int scale = 1, Colour colour = kBlack);
    static int TextWidth(const std::string& text, int scale = 1);
    static int TextHeight(int scale = 1) { return 7 * scale; }

    /// Row by row, three bytes a pixel.
    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    void Glyph(char c, int scale, Colour colour, int x, int y, bool up);

    int width;
    int height;
    std::vector<uint8_t> bytes;
};

}  // namespace QuilTool

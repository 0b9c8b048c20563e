#pragma once

// A picture drawn with cairo: filled rectangles, lines and text in the system's sans-serif font.
// It is recorded as drawn and written afterwards, as a PNG image or as SVG, so that one drawing
// serves both.

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace QuilTool {

struct Colour {
    uint8_t r = 0, g = 0, b = 0;
};

inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kWhite{255, 255, 255};

enum class PictureType { Png, Svg };

/// Where text lies against the point it is drawn at.
enum class Align { Left, Centre, Right };

class Canvas {
public:
    /// A white picture of `width` by `height` pixels.
    Canvas(int width, int height);

    int Width() const { return width; }
    int Height() const { return height; }

    /// On whole pixels, rectangles have sharp edges and exact colours.
    void Fill(double x, double y, double w, double h, Colour colour);
    /// A line through `points` in turn, (x, y) each.
    void Polyline(const std::vector<std::pair<double, double>>& points, double thickness,
                  Colour colour);
    /// Text of `size` pixels; (x, y) is where its baseline meets its left end, middle or right
    /// end.
    void Text(double x, double y, const std::string& text, double size, Align align = Align::Left,
              Colour colour = kBlack);
    /// Text turned a quarter anticlockwise, read from bottom to top, centred on (x, y).
    void TextUp(double x, double y, const std::string& text, double size, Colour colour = kBlack);
    /// How far text of `size` pixels reaches, before any picture is made to fit it.
    static double TextWidth(const std::string& text, double size);

    /// The picture as compressed PNG or as SVG.
    /// @throws std::runtime_error when cairo fails to make it.
    void Write(std::ostream& out, PictureType type) const;

private:
    void Use(Colour colour);

    int width;
    int height;
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> recording;
    std::unique_ptr<cairo_t, void (*)(cairo_t*)> cairo;
};

/// Writes a cairo image surface as compressed PNG.
/// @throws std::runtime_error when cairo fails to make it.
void WritePng(std::ostream& out, cairo_surface_t* image);

}  // namespace QuilTool

#include "Canvas.h"

#include <cairo-svg.h>

#include <stdexcept>

namespace QuilTool {
namespace {

cairo_status_t WriteTo(void* closure, const unsigned char* data, unsigned int length) {
    auto& out = *static_cast<std::ostream*>(closure);
    out.write(reinterpret_cast<const char*>(data), length);
    return out ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

void Check(cairo_status_t status) {
    if (status != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error(std::string("cannot draw the picture: ") +
                                 cairo_status_to_string(status));
    }
}

void UseFont(cairo_t* cairo, double size) {
    cairo_select_font_face(cairo, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cairo, size);
}

}  // namespace

Canvas::Canvas(int width, int height)
    : width(width),
      height(height),
      recording(nullptr, cairo_surface_destroy),
      cairo(nullptr, cairo_destroy) {
    const cairo_rectangle_t extents{0, 0, static_cast<double>(width), static_cast<double>(height)};
    recording.reset(cairo_recording_surface_create(CAIRO_CONTENT_COLOR, &extents));
    cairo.reset(cairo_create(recording.get()));
    Fill(0, 0, width, height, kWhite);
}

void Canvas::Use(Colour colour) {
    cairo_set_source_rgb(cairo.get(), colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
}

void Canvas::Fill(double x, double y, double w, double h, Colour colour) {
    Use(colour);
    cairo_rectangle(cairo.get(), x, y, w, h);
    cairo_fill(cairo.get());
}

void Canvas::Polyline(const std::vector<std::pair<double, double>>& points, double thickness,
                      Colour colour) {
    Use(colour);
    cairo_set_line_width(cairo.get(), thickness);
    cairo_set_line_join(cairo.get(), CAIRO_LINE_JOIN_ROUND);
    for (const auto& [x, y] : points) {
        cairo_line_to(cairo.get(), x, y);
    }
    cairo_stroke(cairo.get());
}

double Canvas::TextWidth(const std::string& text, double size) {
    static const std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> scratch(
        cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1), cairo_surface_destroy);
    static const std::unique_ptr<cairo_t, void (*)(cairo_t*)> measuring(cairo_create(scratch.get()),
                                                                        cairo_destroy);
    UseFont(measuring.get(), size);
    cairo_text_extents_t extents;
    cairo_text_extents(measuring.get(), text.c_str(), &extents);
    return extents.x_advance;
}

void Canvas::Text(double x, double y, const std::string& text, double size, Align align,
                  Colour colour) {
    const double shift = align == Align::Left     ? 0.0
                         : align == Align::Centre ? TextWidth(text, size) / 2
                                                  : TextWidth(text, size);
    UseFont(cairo.get(), size);
    Use(colour);
    cairo_move_to(cairo.get(), x - shift, y);
    cairo_show_text(cairo.get(), text.c_str());
    cairo_new_path(cairo.get());
}

void Canvas::TextUp(double x, double y, const std::string& text, double size, Colour colour) {
    cairo_save(cairo.get());
    cairo_translate(cairo.get(), x, y);
    cairo_rotate(cairo.get(), -1.5707963267948966);
    // Centred on the middle of the letters' height as well.
    Text(0, size * 0.35, text, size, Align::Centre, colour);
    cairo_restore(cairo.get());
}

void Canvas::Write(std::ostream& out, PictureType type) const {
    Check(cairo_status(cairo.get()));
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> target(
        type == PictureType::Svg ? cairo_svg_surface_create_for_stream(WriteTo, &out, width, height)
                                 : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height),
        cairo_surface_destroy);
    {
        std::unique_ptr<cairo_t, void (*)(cairo_t*)> painter(cairo_create(target.get()),
                                                             cairo_destroy);
        cairo_set_source_surface(painter.get(), recording.get(), 0, 0);
        cairo_paint(painter.get());
        Check(cairo_status(painter.get()));
    }
    if (type == PictureType::Png) {
        WritePng(out, target.get());
    }
    cairo_surface_finish(target.get());
    Check(cairo_surface_status(target.get()));
}

void WritePng(std::ostream& out, cairo_surface_t* image) {
    Check(cairo_surface_write_to_png_stream(image, WriteTo, &out));
}

}  // namespace QuilTool

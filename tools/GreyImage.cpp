#include "GreyImage.h"

#include "Canvas.h"

#include <cstring>
#include <memory>

namespace QuilTool {
namespace {

void WriteGreyPng(std::ostream& out, const GreyImage& image) {
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_A8, image.width, image.height),
        cairo_surface_destroy);
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int row = 0; data != nullptr && row < image.height; ++row) {
        std::memcpy(data + static_cast<std::size_t>(row) * stride,
                    image.pixels.data() + static_cast<std::size_t>(row) * image.width,
                    static_cast<std::size_t>(image.width));
    }
    cairo_surface_mark_dirty(surface.get());
    WritePng(out, surface.get());
}

}  // namespace

void WriteGreyImage(std::ostream& out, const GreyImage& image, GreyFormat format) {
    if (format == GreyFormat::Png) {
        WriteGreyPng(out, image);
        return;
    }
    out << "P5\n" << image.width << " " << image.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(image.pixels.data()),
              static_cast<std::streamsize>(image.pixels.size()));
}

}  // namespace QuilTool

// Image file export: an Image as a binary grey map ("P5"). Needs no connection.
#include "api/QuilApi.h"

#include <fstream>
#include <stdexcept>

namespace Varkon::QUILApi {

void QuilApi::SaveImage(const std::string& fileName, const Image& image) {
    // The size comes first: a binning of 0 gives no size, and the file is not touched.
    for (const auto& [binning, name] :
         {std::pair{image.colBinning, "colBinning"}, std::pair{image.rowBinning, "rowBinning"}}) {
        if (binning == 0) {
            throw std::invalid_argument(std::string("SaveImage: ") + name +
                                        " is 0, nothing written to " + fileName);
        }
    }
    const uint32_t width = image.roiWidth / image.colBinning;
    const uint32_t height = image.roiHeight / image.rowBinning;
    const std::string header =
        "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";

    std::ofstream file(fileName, std::ios::binary | std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        throw std::runtime_error("SaveImage: cannot open " + fileName + " for writing");
    }
    // Every byte of the raster, whether or not its size is width × height.
    file.write(header.data(), static_cast<std::streamsize>(header.size()));
    file.write(reinterpret_cast<const char*>(image.pixels.data()),
               static_cast<std::streamsize>(image.pixels.size()));
    file.flush();
    const bool written = file.good();
    file.close();
    if (!written || file.fail()) {
        throw std::runtime_error("SaveImage: cannot write " + fileName);
    }
}

}  // namespace Varkon::QUILApi

#include "Compression.h"

#include <zstd.h>

#include <stdexcept>

namespace Varkon::QuilGateway {
namespace {

// Fast enough for a stream of profiles on one core; they compress well at low levels.
constexpr int kLevel = 1;

}  // namespace

std::string ZstdCompress(const std::string& bytes) {
    std::string frame(ZSTD_compressBound(bytes.size()), '\0');
    const std::size_t size =
        ZSTD_compress(frame.data(), frame.size(), bytes.data(), bytes.size(), kLevel);
    if (ZSTD_isError(size)) {
        throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(size));
    }
    frame.resize(size);
    return frame;
}

std::string ZstdDecompress(const std::string& frame, std::size_t maxBytes) {
    const unsigned long long contentSize = ZSTD_getFrameContentSize(frame.data(), frame.size());
    if (contentSize == ZSTD_CONTENTSIZE_ERROR || contentSize == ZSTD_CONTENTSIZE_UNKNOWN) {
        throw std::runtime_error("not a zstd frame: no content size");
    }
    if (contentSize > maxBytes) {
        throw std::runtime_error("not a zstd frame: it declares more than " +
                                 std::to_string(maxBytes) + " bytes");
    }
    std::string bytes(contentSize, '\0');
    const std::size_t size =
        ZSTD_decompress(bytes.data(), bytes.size(), frame.data(), frame.size());
    if (ZSTD_isError(size)) {
        throw std::runtime_error(std::string("not a zstd frame: ") + ZSTD_getErrorName(size));
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace Varkon::QuilGateway

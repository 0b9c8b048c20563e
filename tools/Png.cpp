#include "Png.h"

#include <algorithm>
#include <array>

namespace QuilTool {
namespace {

uint32_t Crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void PutBigEndian(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void WriteChunk(std::ostream& out, const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> chunk;
    PutBigEndian(chunk, static_cast<uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    PutBigEndian(chunk, Crc32(chunk.data() + 4, chunk.size() - 4));
    out.write(reinterpret_cast<const char*>(chunk.data()),
              static_cast<std::streamsize>(chunk.size()));
}

// A zlib stream of stored (uncompressed) deflate blocks: valid PNG data without a compressor.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01};
    constexpr std::size_t kBlock = 65535;
    std::size_t pos = 0;
    do {
        const std::size_t size = std::min(kBlock, raw.size() - pos);
        const bool last = pos + size == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(size));
        z.push_back(static_cast<uint8_t>(size >> 8));
        z.push_back(static_cast<uint8_t>(~size));
        z.push_back(static_cast<uint8_t>(~size >> 8));
        z.insert(z.end(), raw.begin() + static_cast<long>(pos),
                 raw.begin() + static_cast<long>(pos + size));
        pos += size;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(z, (b << 16) | a);
    return z;
}

}  // namespace

void WritePng(std::ostream& out, uint32_t width, uint32_t height, int channels,
              const std::vector<uint8_t>& pixels) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
    std::vector<uint8_t> raw;  // each row starts with filter type 0
    raw.reserve(height * (rowBytes + 1));
    for (std::size_t r = 0; r < height; ++r) {
        raw.push_back(0);
        raw.insert(raw.end(), pixels.begin() + static_cast<long>(r * rowBytes),
                   pixels.begin() + static_cast<long>((r + 1) * rowBytes));
    }
    static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.write(reinterpret_cast<const char*>(kSignature), sizeof kSignature);
    std::vector<uint8_t> header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    const uint8_t colourType = channels == 3 ? 2 : 0;       // RGB or grey
    header.insert(header.end(), {8, colourType, 0, 0, 0});  // 8 bits, no interlace
    WriteChunk(out, "IHDR", header);
    WriteChunk(out, "IDAT", StoredZlib(raw));
    WriteChunk(out, "IEND", {});
}

}  // namespace QuilTool

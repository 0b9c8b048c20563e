#include "Plot.h"

#include <algorithm>
#include <array>

namespace QuilTool {

void WriteProfileSvg(std::ostream& out, const std::vector<double>& x, const std::vector<double>& z,
                     const std::string& title) {
    constexpr double kWidth = 800;
    constexpr double kHeight = 400;
    constexpr double kMargin = 40;
    const std::size_t n = std::min(x.size(), z.size());
    double xMin = 0, xMax = 1, zMin = 0, zMax = 1;
    if (n > 0) {
        xMin = *std::min_element(x.begin(), x.begin() + static_cast<long>(n));
        xMax = *std::max_element(x.begin(), x.begin() + static_cast<long>(n));
        zMin = *std::min_element(z.begin(), z.begin() + static_cast<long>(n));
        zMax = *std::max_element(z.begin(), z.begin() + static_cast<long>(n));
    }
    const double xSpan = xMax > xMin ? xMax - xMin : 1;
    const double zSpan = zMax > zMin ? zMax - zMin : 1;
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
        << kHeight << "\" viewBox=\"0 0 " << kWidth << " " << kHeight << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << kMargin << "\" y=\"24\" font-family=\"sans-serif\" font-size=\"14\">"
        << title << "</text>\n"
        << "<text x=\"" << kMargin << "\" y=\"" << kHeight - 10
        << "\" font-family=\"sans-serif\" font-size=\"11\">x " << xMin << " to " << xMax << ", z "
        << zMin << " to " << zMax << "</text>\n"
        << "<polyline fill=\"none\" stroke=\"#1f5fa8\" stroke-width=\"1.5\" points=\"";
    for (std::size_t i = 0; i < n; ++i) {
        const double px = kMargin + (x[i] - xMin) / xSpan * (kWidth - 2 * kMargin);
        const double py = kHeight - kMargin - (z[i] - zMin) / zSpan * (kHeight - 2 * kMargin);
        out << px << "," << py << " ";
    }
    out << "\"/>\n</svg>\n";
}

std::size_t HeightMap::Width() const {
    std::size_t width = 0;
    for (const auto& row : rows) {
        width = std::max(width, row.size());
    }
    return width;
}

std::vector<uint8_t> HeightMap::Grey() const {
    uint16_t low = 0xFFFF;
    uint16_t high = 0;
    for (const auto& row : rows) {
        for (uint16_t value : row) {
            low = std::min(low, value);
            high = std::max(high, value);
        }
    }
    const double span = high > low ? high - low : 1;
    const std::size_t width = Width();
    std::vector<uint8_t> grey(rows.size() * width, 0);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            grey[r * width + c] = static_cast<uint8_t>((rows[r][c] - low) / span * 255.0 + 0.5);
        }
    }
    return grey;
}

void WriteHeightMapPgm(std::ostream& out, const HeightMap& map) {
    const auto grey = map.Grey();
    out << "P5\n" << map.Width() << " " << map.rows.size() << "\n255\n";
    out.write(reinterpret_cast<const char*>(grey.data()),
              static_cast<std::streamsize>(grey.size()));
}

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

void WriteHeightMapPng(std::ostream& out, const HeightMap& map) {
    const auto grey = map.Grey();
    const std::size_t width = map.Width();
    std::vector<uint8_t> raw;  // each row starts with filter type 0
    raw.reserve(map.rows.size() * (width + 1));
    for (std::size_t r = 0; r < map.rows.size(); ++r) {
        raw.push_back(0);
        raw.insert(raw.end(), grey.begin() + static_cast<long>(r * width),
                   grey.begin() + static_cast<long>((r + 1) * width));
    }
    static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.write(reinterpret_cast<const char*>(kSignature), sizeof kSignature);
    std::vector<uint8_t> header;
    PutBigEndian(header, static_cast<uint32_t>(width));
    PutBigEndian(header, static_cast<uint32_t>(map.rows.size()));
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey, no interlace
    WriteChunk(out, "IHDR", header);
    WriteChunk(out, "IDAT", StoredZlib(raw));
    WriteChunk(out, "IEND", {});
}

}  // namespace QuilTool

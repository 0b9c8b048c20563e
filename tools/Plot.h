#pragma once

// Pictures of profiles: a single profile as an SVG line chart, many as a grey height map.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace QuilTool {

/// A line chart of z over x.
void WriteProfileSvg(std::ostream& out, const std::vector<double>& x, const std::vector<double>& z,
                     const std::string& title);

/// One row per profile, one column per point; heights scaled to grey 0 (lowest) to 255
/// (highest). Short rows are padded with 0.
struct HeightMap {
    std::vector<std::vector<uint16_t>> rows;

    std::size_t Width() const;
    std::vector<uint8_t> Grey() const;  // row by row
};

/// Binary grey map ("P5").
void WriteHeightMapPgm(std::ostream& out, const HeightMap& map);
/// 8-bit grey PNG.
void WriteHeightMapPng(std::ostream& out, const HeightMap& map);

}  // namespace QuilTool

#pragma once

// Pictures of profiles: a single profile as a chart, a capture of many as a height map.
// Both have axes with ticks in millimetres, spans from the sensor's descriptions, and a z span of
// their own data widened to a minimum, so that a flat belt looks flat.

#include "Canvas.h"
#include "GreyImage.h"

#include <quil/ProfileCoordinates.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace QuilTool {

/// The profiles of a capture, one row each in the order of their block ids. A profile that was
/// lost leaves a row that was not received; a point without a laser line is left out.
struct HeightMap {
    struct Point {
        double x;  // mm, or the point's index when !hasX
        double z;  // mm
    };
    struct Row {
        bool received = false;
        std::vector<Point> points;
    };
    std::vector<Row> rows;
    bool hasX = true;
    std::size_t pointsPerProfile = 0;

    std::size_t Lost() const;
};

/// A closed range of values.
struct Span {
    double low = 0;
    double high = 1;
};

/// The z span that a plot of data from `lowest` to `highest` shows: the data's own, widened
/// about its middle to at least a tenth of the field of view's depth.
Span ZSpan(double lowest, double highest, const Varkon::QUILApi::ProfileCoordinates& coordinates);

/// Heights on a grid, NaN where nothing was measured: columns across the lateral field of view
/// (one per point index when the profiles have no x), one row per profile.
struct HeightGrid {
    int columns = 0;
    int rows = 0;
    std::vector<double> z;  // row by row
    Span x;                 // what the columns span
    bool byPoint = false;   // columns are point indices
    std::size_t lost = 0;   // rows of profiles that were lost

    double At(int column, int row) const {
        return z[static_cast<std::size_t>(row) * columns + column];
    }
    /// The span of the measured heights; {NaN, NaN} when there are none.
    Span Measured() const;
};

HeightGrid MakeGrid(const HeightMap& map, const Varkon::QUILApi::ProfileCoordinates& coordinates);

enum class Palette { Perceptual, Grey };

/// Where the map itself lies in a picture, in whole pixels.
struct MapArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

/// The picture of a height map: a title, the map coloured over `z` in `palette` (white where
/// there is no data), the x axis in millimetres (or point numbers), the y axis in profiles, and a
/// colour scale bar with ticks in millimetres. `area` receives where the map lies.
Canvas DrawHeightMap(const HeightGrid& grid, const Varkon::QUILApi::ProfileCoordinates& coordinates,
                     Span z, Palette palette, MapArea* area = nullptr);

/// The grid as grey values, one pixel a cell: grey 1 (lowest of `z`) to 255 (highest), 0 where
/// there is no data.
GreyImage HeightGridGreys(const HeightGrid& grid, Span z);

/// A line chart of z over x in millimetres, with axes, ticks and units; the line breaks where
/// points are missing.
Canvas DrawProfile(const std::vector<double>& x, const std::vector<double>& z,
                   const Varkon::QUILApi::ProfileCoordinates& coordinates,
                   const std::string& title);

/// Round values from `low` to `high`, at most about `most` of them.
std::vector<double> Ticks(double low, double high, int most);

}  // namespace QuilTool

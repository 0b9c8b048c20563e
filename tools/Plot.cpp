#include "Plot.h"

#include "Counted.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

namespace QuilTool {
namespace {

constexpr double kNoData = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kMillimetres = "mm";
// Text sizes in pixels.
constexpr double kTitleSize = 18;
constexpr double kLabelSize = 15;
constexpr double kTickSize = 13;
constexpr Colour kProfileColour{31, 95, 168};

// Viridis at nine even steps, a colour map whose lightness rises evenly.
constexpr std::array<Colour, 9> kPerceptual = {{{68, 1, 84},
                                                {71, 44, 122},
                                                {59, 81, 139},
                                                {44, 113, 142},
                                                {33, 144, 141},
                                                {39, 173, 129},
                                                {92, 200, 99},
                                                {170, 220, 50},
                                                {253, 231, 37}}};
// Grey stops short of white, which marks missing data.
constexpr uint8_t kBrightestGrey = 220;

Colour Paint(double share, Palette palette) {
    share = std::clamp(share, 0.0, 1.0);
    if (palette == Palette::Grey) {
        const auto grey = static_cast<uint8_t>(share * kBrightestGrey + 0.5);
        return {grey, grey, grey};
    }
    const double at = share * (kPerceptual.size() - 1);
    const std::size_t below = std::min<std::size_t>(static_cast<std::size_t>(at), 7);
    const double t = at - below;
    const auto mix = [t](uint8_t a, uint8_t b) {
        return static_cast<uint8_t>(a + (b - a) * t + 0.5);
    };
    const Colour a = kPerceptual[below];
    const Colour b = kPerceptual[below + 1];
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

double Share(double value, Span span) {
    return (value - span.low) / (span.high - span.low);
}

std::string Label(const std::string& name, const std::string& unit) {
    return unit.empty() ? name : name + " (" + unit + ")";
}

// Tick labels: as many decimals as the step needs.
std::string TickText(double value, double step) {
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::abs(value) < step / 1e6 ? 0.0 : value);
    return text;
}

double Step(const std::vector<double>& ticks) {
    return ticks.size() > 1 ? ticks[1] - ticks[0] : 1.0;
}

}  // namespace

std::size_t HeightMap::Lost() const {
    return static_cast<std::size_t>(
        std::count_if(rows.begin(), rows.end(), [](const Row& row) { return !row.received; }));
}

Span ZSpan(double lowest, double highest, const Varkon::QUILApi::ProfileCoordinates& coordinates) {
    const auto fov = coordinates.ZRange();
    if (!(lowest <= highest)) {  // no data
        return {fov.low, fov.high};
    }
    const double least = (fov.high - fov.low) / 10.0;
    if (highest - lowest >= least && least > 0) {
        return {lowest, highest};
    }
    const double middle = (lowest + highest) / 2.0;
    const double half = std::max(least, 1e-6) / 2.0;
    return {middle - half, middle + half};
}

Span HeightGrid::Measured() const {
    Span span{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (double value : z) {
        if (!std::isnan(value)) {
            span.low = std::min(span.low, value);
            span.high = std::max(span.high, value);
        }
    }
    return span.low <= span.high ? span : Span{kNoData, kNoData};
}

HeightGrid MakeGrid(const HeightMap& map, const Varkon::QUILApi::ProfileCoordinates& coordinates) {
    HeightGrid grid;
    grid.byPoint = !map.hasX;
    grid.rows = static_cast<int>(map.rows.size());
    grid.lost = map.Lost();
    if (grid.byPoint) {
        grid.columns = static_cast<int>(std::max<std::size_t>(1, map.pointsPerProfile));
        grid.x = {0, static_cast<double>(grid.columns - 1)};
    } else {
        grid.columns = static_cast<int>(std::clamp<std::size_t>(map.pointsPerProfile, 64, 2000));
        grid.x = {coordinates.XRange().low, coordinates.XRange().high};
    }
    grid.z.assign(static_cast<std::size_t>(grid.columns) * grid.rows, kNoData);
    const double width = grid.x.high > grid.x.low ? grid.x.high - grid.x.low : 1.0;
    for (int r = 0; r < grid.rows; ++r) {
        for (const auto& point : map.rows[r].points) {
            const long column = std::lround((point.x - grid.x.low) / width * (grid.columns - 1));
            if (column < 0 || column >= grid.columns) {
                continue;
            }
            double& cell = grid.z[static_cast<std::size_t>(r) * grid.columns + column];
            cell = std::isnan(cell) ? point.z : std::max(cell, point.z);
        }
    }
    return grid;
}

std::vector<double> Ticks(double low, double high, int most) {
    if (!std::isfinite(low) || !std::isfinite(high)) {
        return {};
    }
    if (!(high > low) || most < 1) {
        return {low};
    }
    // Each limit divided first, so that limits of opposite sign near the largest double do not
    // overflow their difference.
    const double rough = high / most - low / most;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (step >= rough) {
            break;
        }
    }
    if (!(step > 0) || !std::isfinite(step)) {
        return {low, high};
    }
    // Counted, not accumulated: a step below the spacing of doubles near the limits would never
    // move the value on. Values that round to the same double count once.
    std::vector<double> ticks;
    const double first = std::ceil(low / step - 1e-9) * step;
    for (int i = 0; i <= most + 1; ++i) {
        const double value = first + i * step;
        if (!std::isfinite(value) || value - high > step * 1e-9) {
            break;
        }
        if (ticks.empty() || value > ticks.back()) {
            ticks.push_back(value);
        }
    }
    return ticks;
}

Canvas DrawHeightMap(const HeightGrid& grid, const Varkon::QUILApi::ProfileCoordinates& coordinates,
                     Span z, Palette palette, MapArea* area) {
    const int sx = std::max(1, (480 + grid.columns - 1) / std::max(1, grid.columns));
    const int sy = std::max(1, (240 + grid.rows - 1) / std::max(1, grid.rows));
    const auto xTicks = Ticks(grid.x.low, grid.x.high, 6);
    const auto yTicks = Ticks(0, std::max(0, grid.rows - 1), 6);
    const auto zTicks = Ticks(z.low, z.high, 5);
    const auto widest = [](const std::vector<double>& ticks, double step) {
        double most = 0;
        for (double value : ticks) {
            most = std::max(most, Canvas::TextWidth(TickText(value, step), kTickSize));
        }
        return static_cast<int>(std::ceil(most));
    };
    const double yStep = std::max(1.0, Step(yTicks));

    MapArea map;
    map.width = grid.columns * sx;
    map.height = std::max(1, grid.rows * sy);
    map.left = 12 + kLabelSize + 10 + widest(yTicks, yStep) + 10;
    map.top = 70;
    const int barLeft = map.left + map.width + 24;
    const int barWidth = 20;
    const int labelsLeft = barLeft + barWidth + 8;
    const int right = labelsLeft + widest(zTicks, Step(zTicks)) + 12 + kLabelSize + 12;
    const int bottom = map.top + map.height + 8 + kTickSize + 12 + kLabelSize + 12;
    const std::string legend = "colour: z, " + coordinates.ZAxisName() + ", in mm; white: no data";
    Canvas picture(
        std::max(right, map.left + static_cast<int>(Canvas::TextWidth(legend, kTickSize)) + 12),
        bottom);

    picture.Text(
        map.left, 26,
        "height map: " + Counted(grid.rows, "profile") + ", " + std::to_string(grid.lost) + " lost",
        kTitleSize);
    picture.Text(map.left, 48, legend, kTickSize);

    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            const double value = grid.At(c, r);
            picture.Fill(map.left + c * sx, map.top + r * sy, sx, sy,
                         std::isnan(value) ? kWhite : Paint(Share(value, z), palette));
        }
    }
    // Axes along the left and bottom edges of the map.
    picture.Fill(map.left - 1, map.top, 1, map.height + 1, kBlack);
    picture.Fill(map.left - 1, map.top + map.height, map.width + 1, 1, kBlack);

    const int xLabels = map.top + map.height + 8 + kTickSize;
    for (double value : xTicks) {
        const int px = map.left + static_cast<int>(std::lround(
                                      Share(value, grid.x) * (grid.columns - 1) * sx + sx / 2.0));
        picture.Fill(px, map.top + map.height, 1, 5, kBlack);
        picture.Text(px, xLabels, TickText(value, Step(xTicks)), kTickSize, Align::Centre);
    }
    picture.Text(map.left + map.width / 2.0, xLabels + 12 + kLabelSize,
                 grid.byPoint ? "point" : Label("x", kMillimetres), kLabelSize, Align::Centre);

    for (double value : yTicks) {
        const int py = map.top + static_cast<int>(value) * sy + sy / 2;
        picture.Fill(map.left - 6, py, 5, 1, kBlack);
        picture.Text(map.left - 10, py + kTickSize * 0.35, TickText(value, yStep), kTickSize,
                     Align::Right);
    }
    picture.TextUp(12 + kLabelSize / 2.0, map.top + map.height / 2.0, "profile", kLabelSize);

    // The colour scale bar, the highest value at the top. Its ticks are lines across the bar,
    // apart from their labels, so that none reads as a minus sign.
    for (int row = 0; row < map.height; ++row) {
        const double share =
            map.height > 1 ? 1.0 - static_cast<double>(row) / (map.height - 1) : 0.5;
        picture.Fill(barLeft, map.top + row, barWidth, 1, Paint(share, palette));
    }
    for (double value : zTicks) {
        const int py =
            map.top +
            static_cast<int>(std::lround((1.0 - Share(value, z)) * std::max(0, map.height - 1)));
        picture.Fill(barLeft, py, barWidth, 1, kBlack);
        picture.Text(labelsLeft, py + kTickSize * 0.35, TickText(value, Step(zTicks)), kTickSize);
    }
    picture.TextUp(right - 12 - kLabelSize / 2.0, map.top + map.height / 2.0,
                   Label("z", kMillimetres), kLabelSize);
    if (area) {
        *area = map;
    }
    return picture;
}

GreyImage HeightGridGreys(const HeightGrid& grid, Span z) {
    GreyImage image{grid.columns, grid.rows, std::vector<uint8_t>(grid.z.size(), 0)};
    for (std::size_t i = 0; i < grid.z.size(); ++i) {
        if (!std::isnan(grid.z[i])) {
            image.pixels[i] =
                static_cast<uint8_t>(1 + std::clamp(Share(grid.z[i], z), 0.0, 1.0) * 254 + 0.5);
        }
    }
    return image;
}

Canvas DrawProfile(const std::vector<double>& x, const std::vector<double>& z,
                   const Varkon::QUILApi::ProfileCoordinates& coordinates,
                   const std::string& title) {
    constexpr int kWidth = 800, kHeight = 450;
    constexpr double kLeft = 80, kRight = 20, kTop = 40, kBottom = 60;
    const std::size_t n = std::min(x.size(), z.size());
    Span xs{coordinates.XRange().low, coordinates.XRange().high};
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    for (std::size_t i = 0; i < n; ++i) {
        xs = {std::min(xs.low, x[i]), std::max(xs.high, x[i])};
        lowest = std::min(lowest, z[i]);
        highest = std::max(highest, z[i]);
    }
    // A margin above and below, so that the line never runs along an axis.
    const Span data = ZSpan(lowest, highest, coordinates);
    const double margin = (data.high - data.low) * 0.05;
    const Span zs{data.low - margin, data.high + margin};
    const double plotWidth = kWidth - kLeft - kRight;
    const double plotHeight = kHeight - kTop - kBottom;
    const double axisY = kTop + plotHeight;
    const auto px = [&](double value) { return kLeft + Share(value, xs) * plotWidth; };
    const auto py = [&](double value) { return kTop + (1.0 - Share(value, zs)) * plotHeight; };

    Canvas picture(kWidth, kHeight);
    picture.Text(kLeft, 24, title, kTitleSize);
    picture.Fill(kLeft - 1, kTop, 1, plotHeight + 1, kBlack);
    picture.Fill(kLeft - 1, axisY, plotWidth + 1, 1, kBlack);
    const auto xTicks = Ticks(xs.low, xs.high, 8);
    for (double value : xTicks) {
        picture.Fill(std::round(px(value)), axisY, 1, 5, kBlack);
        picture.Text(px(value), axisY + 8 + kTickSize, TickText(value, Step(xTicks)), kTickSize,
                     Align::Centre);
    }
    const auto zTicks = Ticks(zs.low, zs.high, 6);
    for (double value : zTicks) {
        picture.Fill(kLeft - 6, std::round(py(value)), 5, 1, kBlack);
        picture.Text(kLeft - 10, py(value) + kTickSize * 0.35, TickText(value, Step(zTicks)),
                     kTickSize, Align::Right);
    }
    picture.Text(kLeft + plotWidth / 2, kHeight - 14, Label("x", kMillimetres), kLabelSize,
                 Align::Centre);
    picture.TextUp(18, kTop + plotHeight / 2, Label("z, " + coordinates.ZAxisName(), kMillimetres),
                   kLabelSize);

    // Consecutive points further apart than three typical steps belong to separate lines.
    std::vector<double> steps;
    for (std::size_t i = 1; i < n; ++i) {
        steps.push_back(std::abs(x[i] - x[i - 1]));
    }
    std::nth_element(steps.begin(), steps.begin() + static_cast<long>(steps.size() / 2),
                     steps.end());
    const double gap = steps.empty() ? 0 : 3 * steps[steps.size() / 2];
    std::vector<std::pair<double, double>> line;
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && std::abs(x[end] - x[end - 1]) <= gap) {
            ++end;
        }
        line.clear();
        for (std::size_t i = begin; i < end; ++i) {
            line.emplace_back(px(x[i]), py(z[i]));
        }
        picture.Polyline(line, 1.5, kProfileColour);
        begin = end;
    }
    return picture;
}

}  // namespace QuilTool

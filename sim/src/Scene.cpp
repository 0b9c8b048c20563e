#include <quil/sim/Scene.h>

#include "Description.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Varkon::QUILApi::Sim {

namespace {

constexpr double kPitch = 120.0;  // mm of belt per object slot
constexpr double kBeltReflectivity = 0.25;
constexpr double kReferenceExposure = 500.0;  // us at which brightness is reflectivity * factor

uint64_t Mix(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// A uniform number in [0, 1) from a hash.
double Unit(uint64_t hash) {
    return static_cast<double>(hash >> 11) * (1.0 / 9007199254740992.0);
}

struct Object {
    bool present;
    double yStart, length;
    double centre, width, height;
    int shape;  // 0 box, 1 cylinder lying along the belt, 2 ridge
    double reflectivity;
};

Object ObjectInSlot(uint64_t seed, int64_t slot) {
    uint64_t state = Mix(seed ^ Mix(static_cast<uint64_t>(slot)));
    const auto next = [&state] {
        state = Mix(state);
        return Unit(state);
    };
    Object o{};
    o.present = next() < 0.8;
    o.yStart = slot * kPitch + next() * 20.0;
    o.length = 30.0 + next() * 50.0;
    o.centre = -40.0 + next() * 80.0;
    o.width = 15.0 + next() * 45.0;
    o.height = 5.0 + next() * 45.0;
    o.shape = static_cast<int>(next() * 3.0);
    o.reflectivity = 0.4 + next() * 0.6;
    return o;
}

double ObjectHeight(const Object& o, double x) {
    const double half = o.width / 2.0;
    const double dx = std::abs(x - o.centre);
    if (dx > half) {
        return 0.0;
    }
    switch (o.shape) {
        case 0:
            return o.height;
        case 1:
            return o.height * std::sqrt(1.0 - (dx / half) * (dx / half));
        default:
            return o.height * (1.0 - dx / half);
    }
}

}  // namespace

Scene::Scene(uint64_t seed, uint32_t pointsPerProfile, uint64_t startUs)
    : seed(seed), pointsPerProfile(pointsPerProfile), startUs(startUs) {}

Scene::Surface Scene::At(double x, double y) const {
    Surface surface{0.0, kBeltReflectivity};
    const auto slot = static_cast<int64_t>(std::floor(y / kPitch));
    for (int64_t s = slot - 1; s <= slot; ++s) {
        const Object o = ObjectInSlot(seed, s);
        if (!o.present || y < o.yStart || y >= o.yStart + o.length) {
            continue;
        }
        const double h = ObjectHeight(o, x);
        if (h > surface.height) {
            surface = {h, o.reflectivity};
        }
    }
    return surface;
}

double Scene::Noise(uint64_t index, uint64_t position, uint64_t channel) const {
    return Unit(Mix(seed ^ Mix(index * 0x100000001B3ull + position) ^ (channel << 56))) * 2.0 - 1.0;
}

uint8_t Scene::Brightness(const Surface& surface, const CaptureSettings& settings, uint64_t index,
                          uint64_t position) const {
    const double level = 255.0 * surface.reflectivity * settings.laserFactor *
                             (settings.exposureTime / kReferenceExposure) +
                         3.0 * Noise(index, position, 1);
    return static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
}

double Scene::Travel(uint64_t timeUs) const {
    return Geometry::beltSpeed * static_cast<double>(static_cast<int64_t>(timeUs - startUs)) / 1e6;
}

Acquired Scene::Capture(uint64_t index, uint64_t timeUs, double rate,
                        const CaptureSettings& settings) const {
    Acquired acquired;
    acquired.index = index;
    acquired.timeUs = timeUs;
    acquired.rate = rate;
    const double y = Travel(timeUs);
    acquired.encoder =
        static_cast<uint32_t>(static_cast<uint64_t>(std::max(y, 0.0) * Geometry::countsPerMm));

    const double left = settings.limitLeft;
    const double right = settings.limitRight;
    if (settings.resampling) {
        for (double x = std::ceil(left / settings.gridValue) * settings.gridValue;
             x <= right + 1e-9 && acquired.x.size() < pointsPerProfile; x += settings.gridValue) {
            acquired.x.push_back(x);
        }
    } else {
        const uint32_t count = std::max<uint32_t>(2, pointsPerProfile / settings.xResolution);
        for (uint32_t i = 0; i < count; ++i) {
            acquired.x.push_back(left + (right - left) * i / (count - 1));
        }
    }

    const std::size_t n = acquired.x.size();
    acquired.z.assign(n, 0.0);
    acquired.brightness.assign(n, 0);
    acquired.valid.assign(n, false);
    const double quantum = settings.zResolution / 100.0;
    std::vector<double> heights(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const Surface surface = At(acquired.x[i], y);
        const double distance = Geometry::beltDistance - surface.height + 0.02 * Noise(index, i, 0);
        const uint8_t brightness = Brightness(surface, settings, index, i);
        if (distance < settings.nearest || distance > settings.farthest ||
            brightness < settings.minPeakHeight) {
            continue;
        }
        const double z = settings.heightAxis ? settings.farthest - distance : distance;
        acquired.z[i] = std::round(z / quantum) * quantum;
        acquired.brightness[i] = brightness;
        acquired.valid[i] = true;
        heights[i] = Geometry::beltDistance - distance;
    }

    if (settings.filter && settings.filterLength > 1) {
        const std::vector<double> raw = acquired.z;
        const std::ptrdiff_t half = settings.filterLength / 2;
        for (std::size_t i = 0; i < n; ++i) {
            if (!acquired.valid[i]) {
                continue;
            }
            double sum = 0.0;
            int count = 0;
            for (std::ptrdiff_t j = -half; j <= half; ++j) {
                const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(i) + j;
                if (k >= 0 && k < static_cast<std::ptrdiff_t>(n) && acquired.valid[k]) {
                    sum += raw[k];
                    ++count;
                }
            }
            acquired.z[i] = std::round(sum / count / quantum) * quantum;
        }
    }

    std::size_t found = 0;
    double top = 0.0, first = 0.0, last = 0.0, area = 0.0;
    bool object = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (!acquired.valid[i]) {
            continue;
        }
        ++found;
        if (heights[i] > 1.0) {
            if (!object) {
                first = acquired.x[i];
            }
            object = true;
            last = acquired.x[i];
            top = std::max(top, heights[i]);
            const double step = n > 1 ? (right - left) / (n - 1) : 0.0;
            area += heights[i] * (settings.resampling ? settings.gridValue : step);
        }
    }
    acquired.quality = found == n ? 0 : (found > 0 ? 1 : 2);
    acquired.objectPresent = object;
    acquired.alarm = top > kAlarmHeight;
    const double undefined = std::numeric_limits<double>::quiet_NaN();
    acquired.values = {top, object ? last - first : 0.0, object ? (first + last) / 2.0 : undefined,
                       area};
    return acquired;
}

Picture Scene::Photograph(uint64_t index, uint64_t timeUs, const CaptureSettings& settings) const {
    const double width = Geometry::maxXMinus + Geometry::maxXPlus;
    const double depth = Geometry::maxDistance - Geometry::minDistance;
    const auto column = [&](double x) {
        return (x + Geometry::maxXMinus) / width * pointsPerProfile;
    };
    const auto row = [&](double d) {
        return (d - Geometry::minDistance) / depth * Geometry::sensorHeight;
    };
    Picture picture;
    picture.columnOffset =
        static_cast<uint32_t>(std::max(0.0, std::floor(column(settings.limitLeft))));
    picture.roiWidth = std::min<uint32_t>(
        pointsPerProfile - picture.columnOffset,
        static_cast<uint32_t>(std::ceil(column(settings.limitRight))) - picture.columnOffset);
    picture.rowOffset = static_cast<uint32_t>(std::max(0.0, std::floor(row(settings.nearest))));
    picture.roiHeight = std::min<uint32_t>(
        Geometry::sensorHeight - picture.rowOffset,
        static_cast<uint32_t>(std::ceil(row(settings.farthest))) - picture.rowOffset);
    picture.pixels.resize(static_cast<std::size_t>(picture.roiWidth) * picture.roiHeight);

    const double y = Travel(timeUs);
    for (uint32_t c = 0; c < picture.roiWidth; ++c) {
        const double x =
            (picture.columnOffset + c + 0.5) / pointsPerProfile * width - Geometry::maxXMinus;
        const Surface surface = At(x, y);
        const double centre = row(Geometry::beltDistance - surface.height) - picture.rowOffset;
        const double peak = Brightness(surface, settings, index, c);
        for (uint32_t r = 0; r < picture.roiHeight; ++r) {
            const double offset = (r + 0.5 - centre) / 1.2;
            const double dark = 4.0 + 3.0 * Noise(index, static_cast<uint64_t>(r) * 65536 + c, 2);
            const double level = dark + peak * std::exp(-0.5 * offset * offset);
            picture.pixels[static_cast<std::size_t>(r) * picture.roiWidth + c] =
                static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
        }
    }
    return picture;
}

}  // namespace Varkon::QUILApi::Sim

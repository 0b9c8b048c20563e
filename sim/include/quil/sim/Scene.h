#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace Varkon::QUILApi::Sim {

/// The settings that shape what the camera sees and how a profile is computed from it.
struct CaptureSettings {
    double limitLeft = -60.0;  ///< field of view, left limit, mm
    double limitRight = 60.0;  ///< field of view, right limit, mm
    double nearest = 250.0;    ///< nearest distance of the field of view, mm
    double farthest = 380.0;   ///< farthest distance of the field of view, mm
    uint32_t xResolution = 1;  ///< every xResolution-th point position is used
    uint32_t zResolution = 1;  ///< heights are multiples of zResolution hundredths of a mm
    bool resampling = false;   ///< points on a grid of gridValue mm instead of the camera's columns
    double gridValue = 0.5;    ///< grid of resampling, mm
    bool filter = false;       ///< moving average of the heights over filterLength points
    uint32_t filterLength = 3;  ///< points the moving average spans
    bool heightAxis = true;     ///< z as height above the far limit; otherwise distance from sensor
    double laserFactor = 0.8;   ///< laser power factor, 0 to 1
    uint32_t exposureTime = 500;  ///< us
    uint32_t minPeakHeight = 20;  ///< weaker laser line brightness finds no point
};

/// One acquisition: the profile and the measurement values computed from it.
struct Acquired {
    uint64_t index = 0;               ///< acquisitions since the sensor started
    uint64_t timeUs = 0;              ///< sensor time of the acquisition in microseconds
    uint32_t encoder = 0;             ///< encoder value at the acquisition
    double rate = 0.0;                ///< profiles per second at the time
    std::vector<double> x;            ///< mm, one per point position
    std::vector<double> z;            ///< mm along the chosen axis; only meaningful where valid
    std::vector<uint8_t> brightness;  ///< laser line brightness, one per point position
    std::vector<bool> valid;          ///< a laser line was found at this position
    uint32_t quality = 0;             ///< 0 all points found, 1 some, 2 none
    bool objectPresent = false;       ///< an object lies under the laser line
    bool alarm = false;               ///< an object higher than the alarm height
    /// Object height, width, centre and cross-section area; NaN where undefined (no object).
    std::array<double, 4> values{};
};

/// A picture of the laser line in the field of view, one byte per pixel, row by row.
struct Picture {
    uint32_t roiHeight = 0;       ///< rows of the picture
    uint32_t roiWidth = 0;        ///< columns of the picture
    uint32_t rowOffset = 0;       ///< first camera row in the picture
    uint32_t columnOffset = 0;    ///< first camera column in the picture
    std::vector<uint8_t> pixels;  ///< roiHeight rows of roiWidth bytes
};

/// A conveyor belt that carries objects (boxes, lying cylinders, ridges) under the laser line.
/// What lies on the belt, and all noise, follows from the seed alone, so that the same seed,
/// time and settings always give the same result.
class Scene {
public:
    /// A scene whose belt and noise follow from `seed`, seen at `pointsPerProfile` positions;
    /// the belt starts moving at sensor time `startUs` (a sensor whose clock shows the wall
    /// time sees the same belt as one whose clock starts at 0).
    Scene(uint64_t seed, uint32_t pointsPerProfile, uint64_t startUs = 0);

    /// Acquisition `index` at sensor time `timeUs`, with the belt moving at `rate` profiles
    /// per second, under `settings`.
    Acquired Capture(uint64_t index, uint64_t timeUs, double rate,
                     const CaptureSettings& settings) const;
    /// The camera picture of acquisition `index` at sensor time `timeUs` under `settings`.
    Picture Photograph(uint64_t index, uint64_t timeUs, const CaptureSettings& settings) const;

    /// An object higher than this raises the alarm, mm.
    static constexpr double kAlarmHeight = 45.0;

private:
    struct Surface {
        double height;  // above the belt, mm
        double reflectivity;
    };
    Surface At(double x, double y) const;
    double Noise(uint64_t index, uint64_t position, uint64_t channel) const;  // in [-1, 1)
    uint8_t Brightness(const Surface& surface, const CaptureSettings& settings, uint64_t index,
                       uint64_t position) const;

    /// How far the belt has moved at sensor time `timeUs`, mm.
    double Travel(uint64_t timeUs) const;

    uint64_t seed;
    uint32_t pointsPerProfile;
    uint64_t startUs;
};

}  // namespace Varkon::QUILApi::Sim

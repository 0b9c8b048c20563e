#pragma once

// Profiles in lengths: how the stream's channels and the requested profile's coordinates become
// lengths, and the ranges that the field of view spans, from the sensor's descriptions.

#include <quil/Quil.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace QuilTool {

struct ProfileScale {
    /// Channel 1 (x) of a streamed profile counts from this value; channel 0 (z) 0 is no point.
    static constexpr int kXChannelOffset = 32768;

    std::string xUnit = "mm";  // "ProfileMeta"
    std::string zUnit = "mm";
    double xStep = 0.01;  // one count of a coordinate: 10^-xPrec of "FoVMeta"
    double zStep = 0.01;
    double xMin = -50, xMax = 50;  // the lateral limits of the field of view
    double zMin = 0, zMax = 100;   // the field of view along z, as the z axis is defined
    std::string zName = "z";       // the z axis definition in force, e.g. "Height above far limit"

    /// Reads "ProfileMeta", "FoVMeta", "FoVDistance", "Axes" and "AxesMeta".
    static ProfileScale Read(Varkon::QUILApi::Quil& quil);
    /// The same from a recording's description file (its "sensor" part holds those resources);
    /// the defaults above where the description has none or lacks one of them.
    static ProfileScale FromDescription(const std::string& descriptionText);
    static ProfileScale From(const Varkon::QUILApi::ProfileMeta& units,
                             const Varkon::QUILApi::FoVMeta& meta,
                             const Varkon::QUILApi::FoVDistance& fov, uint32_t axis,
                             const Varkon::QUILApi::AxesMeta& axes);

    double X(uint16_t channel1) const { return (channel1 - kXChannelOffset) * xStep; }
    double Z(uint16_t channel0) const { return channel0 * zStep; }
    /// The length of a coordinate of a requested profile, sent with precision `prec`.
    static double Coordinate(int32_t value, uint32_t prec) {
        return value * std::pow(10.0, -static_cast<double>(prec));
    }
};

}  // namespace QuilTool

// Profiles in millimetres: the sensor's raw coordinates converted with the sensor's own
// descriptions of them.
#pragma once

#include <quil/Quil.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace Varkon::QUILApi {

/// What the sensor says about the lengths in its profiles, as GetProfileMeta, GetFoVMeta,
/// GetFoVDistance, GetAxes and GetAxesMeta read it (a recording's description file holds the
/// same in its "sensor" part).
struct ProfileDescription {
    ProfileMeta profileMeta;       ///< the coordinates' units ("ProfileMeta")
    FoVMeta fovMeta;               ///< the precisions of streamed coordinates ("FoVMeta")
    FoVDistance fovDistance;       ///< the field of view, in the units of fovMeta
    uint32_t zAxisDefinitionID{};  ///< the z axis definition in force ("Axes")
    AxesMeta axesMeta;             ///< the z axis definitions offered ("AxesMeta")
};

/// How a streamed profile's 16-bit words place a point, as the stream's format fixes it.
struct StreamWordEncoding {
    uint16_t xZeroWord = 32768;  ///< the channel 1 word of x = 0
    uint16_t zZeroWord = 0;      ///< the channel 0 word of z = 0
    uint16_t noPointWord = 0;    ///< the channel 0 word of a point without a laser line
};

/// A profile's points in millimetres, one element per point. A point without a laser line has
/// NaN as z and as brightness; its x is kept.
struct ProfilePoints {
    std::vector<double> x;           ///< lateral position, mm; empty without channel 1 (data id 2)
    std::vector<double> z;           ///< z as the z axis definition in force defines it, mm
    std::vector<double> brightness;  ///< the laser line's grey value; empty without brightness
};

/// The conversion of profiles to millimetres, set up once from the sensor's descriptions so that
/// converting a point costs a multiply-add. A streamed coordinate counts 10^-prec of the profile
/// unit ("ProfileMeta"), prec being the field of view's precision ("FoVMeta" xPrec and zPrec);
/// x counts from StreamWordEncoding::xZeroWord. A requested profile carries its own precision.
/// Units understood: "mm", "um" (also "µm"), "cm", "m" and "in".
class QUIL_API ProfileCoordinates {
public:
    /// A span of lengths, low <= high.
    struct Range {
        double low{};   ///< the lower end, mm
        double high{};  ///< the upper end, mm
    };

    /// @throws std::invalid_argument "Unknown length unit \"<unit>\"." for a unit other than
    ///         those above.
    explicit ProfileCoordinates(const ProfileDescription& description,
                                const StreamWordEncoding& encoding = {});

    /// Reads "ProfileMeta", "FoVMeta", "FoVDistance", "Axes" and "AxesMeta" from the sensor.
    /// @throws what those reads throw; std::invalid_argument as the constructor.
    static ProfileCoordinates Read(Quil& quil);

    /// From the text of a recording's description file (RecordingReplay::GetDescription), whose
    /// "sensor" part holds the descriptions.
    /// @throws std::invalid_argument "The recording's description holds no profile
    ///         descriptions." when it lacks one of them; as the constructor.
    static ProfileCoordinates FromRecordingDescription(const std::string& descriptionText);

    /// Channel 1 word of a streamed profile as x in mm.
    double StreamX(uint16_t word) const { return word * xPerWord + xAtWordZero; }
    /// Channel 0 word of a streamed profile as z in mm; NaN for a point without a laser line.
    double StreamZ(uint16_t word) const {
        return word == noPointWord ? std::numeric_limits<double>::quiet_NaN()
                                   : word * zPerWord + zAtWordZero;
    }

    /// Millimetres of one step of a channel 1 word: the resolution of streamed x.
    double StreamXStep() const { return xPerWord; }
    /// Millimetres of one step of a channel 0 word: the resolution of streamed z.
    double StreamZStep() const { return zPerWord; }

    /// Converts `profile.pointCount` points into each destination that is not null: `x` only
    /// when the profile has channel 1, `brightness` only when it has channel 2 (the others are
    /// left alone). A point the block did not carry counts as one without a laser line.
    void Convert(const UdpStreaming::StreamProfile& profile, double* x, double* z,
                 double* brightness) const;
    /// The points of a streamed profile.
    ProfilePoints Convert(const UdpStreaming::StreamProfile& profile) const;
    /// The points of a requested profile (it lists points with a laser line only).
    ProfilePoints Convert(const Profile& profile) const;
    /// The points of a requested profile with brightness.
    ProfilePoints Convert(const AugmentedProfile& profile) const;

    /// The field of view's lateral span, mm.
    Range XRange() const { return xRange; }
    /// The field of view's span along z as the z axis definition in force defines it, mm:
    /// near to far for definition 0 (distance from the sensor), else 0 to its depth.
    Range ZRange() const { return zRange; }
    /// The name of the z axis definition in force, e.g. "Height above far limit"; "z" when the
    /// sensor does not name it.
    const std::string& ZAxisName() const { return zAxisName; }

private:
    double xPerWord;
    double xAtWordZero;
    double zPerWord;
    double zAtWordZero;
    uint16_t noPointWord;
    double profileXUnit;  // mm per profile unit
    double profileZUnit;
    Range xRange;
    Range zRange;
    std::string zAxisName;
};

}  // namespace Varkon::QUILApi

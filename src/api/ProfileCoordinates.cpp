#include <quil/ProfileCoordinates.h>

#include <quil/Json.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace Varkon::QUILApi {

namespace {

constexpr double kNoPoint = std::numeric_limits<double>::quiet_NaN();

// Millimetres per unit.
double Millimetres(const std::string& unit) {
    static const std::pair<const char*, double> kUnits[] = {
        {"mm", 1.0}, {"um", 1e-3}, {"\xC2\xB5m", 1e-3}, {"cm", 10.0}, {"m", 1000.0}, {"in", 25.4}};
    for (const auto& [name, millimetres] : kUnits) {
        if (unit == name) {
            return millimetres;
        }
    }
    throw std::invalid_argument("Unknown length unit \"" + unit + "\".");
}

double Decimals(uint32_t precision) {
    return std::pow(10.0, -static_cast<double>(precision));
}

ProfileCoordinates::Range Ordered(double a, double b) {
    return {std::min(a, b), std::max(a, b)};
}

template <class Requested>
ProfilePoints RequestedPoints(const Requested& profile, double xUnit, double zUnit) {
    const double step = Decimals(profile.prec);
    ProfilePoints points;
    points.x.reserve(profile.xValues.size());
    for (int32_t value : profile.xValues) {
        points.x.push_back(value * step * xUnit);
    }
    points.z.reserve(profile.zValues.size());
    for (int32_t value : profile.zValues) {
        points.z.push_back(value * step * zUnit);
    }
    return points;
}

}  // namespace

ProfileCoordinates::ProfileCoordinates(const ProfileDescription& description,
                                       const StreamWordEncoding& encoding)
    : noPointWord(encoding.noPointWord),
      profileXUnit(Millimetres(description.profileMeta.xUnit)),
      profileZUnit(Millimetres(description.profileMeta.zUnit)),
      zAxisName("z") {
    xPerWord = Decimals(description.fovMeta.xPrec) * profileXUnit;
    zPerWord = Decimals(description.fovMeta.zPrec) * profileZUnit;
    xAtWordZero = -static_cast<double>(encoding.xZeroWord) * xPerWord;
    zAtWordZero = -static_cast<double>(encoding.zZeroWord) * zPerWord;

    const auto& fov = description.fovDistance;
    const double fovX = Millimetres(description.fovMeta.xUnit);
    const double fovZ = Millimetres(description.fovMeta.zUnit);
    xRange = Ordered(fov.limitLeft * fovX, fov.limitRight * fovX);
    // Definition 0 measures the distance from the sensor; the others a height above the far
    // limit, which spans the field of view's depth from 0.
    zRange = description.zAxisDefinitionID == 0 ? Ordered(fov.near * fovZ, fov.far * fovZ)
                                                : Ordered(0.0, (fov.far - fov.near) * fovZ);
    for (const auto& definition : description.axesMeta.zAxisDefinitions) {
        if (definition.id == description.zAxisDefinitionID && !definition.name.empty()) {
            zAxisName = definition.name;
        }
    }
}

ProfileCoordinates ProfileCoordinates::Read(Quil& quil) {
    ProfileDescription description;
    description.profileMeta = quil.GetProfileMeta();
    description.fovMeta = quil.GetFoVMeta();
    description.fovDistance = quil.GetFoVDistance();
    description.zAxisDefinitionID = quil.GetAxes();
    description.axesMeta = quil.GetAxesMeta();
    return ProfileCoordinates(description);
}

ProfileCoordinates ProfileCoordinates::FromRecordingDescription(
    const std::string& descriptionText) {
    ProfileDescription description;
    try {
        const auto parsed = nlohmann::json::parse(descriptionText);
        const auto& sensor = parsed.at("sensor");
        description.profileMeta = FromPlainJson<ProfileMeta>(sensor.at("ProfileMeta"));
        description.fovMeta = FromPlainJson<FoVMeta>(sensor.at("FoVMeta"));
        description.fovDistance = FromPlainJson<FoVDistance>(sensor.at("FoVDistance"));
        description.zAxisDefinitionID = sensor.at("Axes").at("zAxisDefinitionID").get<uint32_t>();
        description.axesMeta = FromPlainJson<AxesMeta>(sensor.at("AxesMeta"));
    } catch (const nlohmann::json::exception&) {
        throw std::invalid_argument("The recording's description holds no profile descriptions.");
    }
    return ProfileCoordinates(description);
}

void ProfileCoordinates::Convert(const UdpStreaming::StreamProfile& profile, double* x, double* z,
                                 double* brightness) const {
    const std::size_t count = profile.pointCount;
    if (z) {
        const std::size_t carried = std::min(count, profile.channel0.size());
        for (std::size_t i = 0; i < carried; ++i) {
            z[i] = StreamZ(profile.channel0[i]);
        }
        std::fill(z + carried, z + count, kNoPoint);
    }
    if (x && profile.hasChannel1) {
        const std::size_t carried = std::min(count, profile.channel1.size());
        for (std::size_t i = 0; i < carried; ++i) {
            x[i] = StreamX(profile.channel1[i]);
        }
        std::fill(x + carried, x + count, kNoPoint);
    }
    if (brightness && profile.hasChannel2) {
        for (std::size_t i = 0; i < count; ++i) {
            const bool point = i < profile.channel0.size() && profile.channel0[i] != noPointWord &&
                               i < profile.channel2.size();
            brightness[i] = point ? profile.channel2[i] : kNoPoint;
        }
    }
}

ProfilePoints ProfileCoordinates::Convert(const UdpStreaming::StreamProfile& profile) const {
    ProfilePoints points;
    points.z.resize(profile.pointCount);
    points.x.resize(profile.hasChannel1 ? profile.pointCount : 0);
    points.brightness.resize(profile.hasChannel2 ? profile.pointCount : 0);
    Convert(profile, points.x.data(), points.z.data(), points.brightness.data());
    return points;
}

ProfilePoints ProfileCoordinates::Convert(const Profile& profile) const {
    return RequestedPoints(profile, profileXUnit, profileZUnit);
}

ProfilePoints ProfileCoordinates::Convert(const AugmentedProfile& profile) const {
    ProfilePoints points = RequestedPoints(profile, profileXUnit, profileZUnit);
    points.brightness.assign(profile.brightness.begin(), profile.brightness.end());
    return points;
}

}  // namespace Varkon::QUILApi

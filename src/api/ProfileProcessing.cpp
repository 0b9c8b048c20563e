// Resolution, resampling and profile filter: "Resolution", "ResolutionLimits", "Resampling",
// "ResamplingMeta", "ProfileFilter", "ProfileFilterMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace Frame {

template <>
struct Schema<Resolution> {
    static inline const auto fields =
        std::make_tuple(Field("xResolution", &Resolution::xResolution),
                        Field("zResolution", &Resolution::zResolution));
};

template <>
struct Schema<ResolutionLimits> {
    static inline const auto fields =
        std::make_tuple(Field("xResolution", &ResolutionLimits::xResolution),
                        Field("zResolution", &ResolutionLimits::zResolution));
};

template <>
struct Schema<Resampling> {
    static inline const auto fields = std::make_tuple(Field("enabled", &Resampling::enabled),
                                                      Field("gridValue", &Resampling::gridValue));
};

template <>
struct Schema<ResamplingMeta> {
    using R = ResamplingMeta;
    static inline const auto fields = std::make_tuple(
        Field("gridUnit", &R::gridUnit), Field("gridPrec", &R::gridPrec),
        Field("minGridValue", &R::minGridValue), Field("maxGridValue", &R::maxGridValue));
};

template <>
struct Schema<ProfileFilter> {
    static inline const auto fields =
        std::make_tuple(Field("movingAverageEnabled", &ProfileFilter::movingAverageEnabled),
                        Field("movingAverageLength", &ProfileFilter::movingAverageLength));
};

template <>
struct Schema<ProfileFilterMeta> {
    using R = ProfileFilterMeta;
    static inline const auto fields =
        std::make_tuple(Field("movingAverageMinimumLength", &R::movingAverageMinimumLength),
                        Field("movingAverageMaximumLength", &R::movingAverageMaximumLength));
};

}  // namespace Frame

Resolution QuilApi::GetResolution() {
    return Read<Resolution>("Resolution");
}

void QuilApi::SetResolution(const Resolution& resolution) {
    SetResolution(resolution.xResolution, resolution.zResolution);
}

void QuilApi::SetResolution(const uint32_t& xResolution, const uint32_t& zResolution) {
    Write("Resolution",
          Frame::Object({{"xResolution", xResolution}, {"zResolution", zResolution}}));
}

ResolutionLimits QuilApi::GetResolutionLimits() {
    return Read<ResolutionLimits>("ResolutionLimits");
}

bool QuilApi::GetResamplingEnabled() {
    return ReadField<bool>("Resampling", "enabled");
}

Resampling QuilApi::GetResampling() {
    return Read<Resampling>("Resampling");
}

void QuilApi::SetResampling(const Resampling& resampling) {
    SetResampling(resampling.enabled, resampling.gridValue);
}

void QuilApi::SetResampling(const bool& enabled, const double& gridValue) {
    Write("Resampling", Frame::Object({{"enabled", enabled}, {"gridValue", gridValue}}));
}

ResamplingMeta QuilApi::GetResamplingMeta() {
    return Read<ResamplingMeta>("ResamplingMeta");
}

ProfileFilter QuilApi::GetProfileFilter() {
    return Read<ProfileFilter>("ProfileFilter");
}

void QuilApi::SetProfileFilter(const ProfileFilter& profileFilter) {
    SetProfileFilter(profileFilter.movingAverageEnabled, profileFilter.movingAverageLength);
}

void QuilApi::SetProfileFilter(const bool& movingAverageEnabled,
                               const uint32_t& movingAverageLength) {
    Write("ProfileFilter", Frame::Object({{"movingAverageEnabled", movingAverageEnabled},
                                          {"movingAverageLength", movingAverageLength}}));
}

bool QuilApi::GetProfileFilterEnabled() {
    return ReadField<bool>("ProfileFilter", "movingAverageEnabled");
}

ProfileFilterMeta QuilApi::GetProfileFilterMeta() {
    return Read<ProfileFilterMeta>("ProfileFilterMeta");
}

}  // namespace Varkon::QUILApi

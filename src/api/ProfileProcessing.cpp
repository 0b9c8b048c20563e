// Resolution, resampling and profile filter: "Resolution", "ResolutionLimits", "Resampling",
// "ResamplingMeta", "ProfileFilter", "ProfileFilterMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
Resolution QuilApi::GetResolution() {
    return Read<Resolution>("Resolution");
}

void QuilApi::SetResolution(const Resolution& resolution) {
    SetResolution(resolution.xResolution, resolution.zResolution);
}

void QuilApi::SetResolution(const uint32_t& xResolution, const uint32_t& zResolution) {
    Write("Resolution", WriteBody(Resolution{xResolution, zResolution}));
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
    Write("Resampling", WriteBody(Resampling{enabled, gridValue}));
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
    Write("ProfileFilter", WriteBody(ProfileFilter{movingAverageEnabled, movingAverageLength}));
}

bool QuilApi::GetProfileFilterEnabled() {
    return ReadField<bool>("ProfileFilter", "movingAverageEnabled");
}

ProfileFilterMeta QuilApi::GetProfileFilterMeta() {
    return Read<ProfileFilterMeta>("ProfileFilterMeta");
}

}  // namespace Varkon::QUILApi

// Resolution, resampling and profile filter: "Resolution", "ResolutionLimits", "Resampling",
// "ResamplingMeta", "ProfileFilter", "ProfileFilterMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
Resolution QuilApi::GetResolution() {
    return Read<Resolution>("Resolution");
}

void QuilApi::SetResolution(const Resolution& resolution) {
    Write("Resolution", WriteBody(resolution));
}

void QuilApi::SetResolution(const uint32_t& xResolution, const uint32_t& zResolution) {
    SetResolution(Resolution{xResolution, zResolution});
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
    Write("Resampling", WriteBody(resampling));
}

void QuilApi::SetResampling(const bool& enabled, const double& gridValue) {
    SetResampling(Resampling{enabled, gridValue});
}

ResamplingMeta QuilApi::GetResamplingMeta() {
    return Read<ResamplingMeta>("ResamplingMeta");
}

ProfileFilter QuilApi::GetProfileFilter() {
    return Read<ProfileFilter>("ProfileFilter");
}

void QuilApi::SetProfileFilter(const ProfileFilter& profileFilter) {
    Write("ProfileFilter", WriteBody(profileFilter));
}

void QuilApi::SetProfileFilter(const bool& movingAverageEnabled,
                               const uint32_t& movingAverageLength) {
    SetProfileFilter(ProfileFilter{movingAverageEnabled, movingAverageLength});
}

bool QuilApi::GetProfileFilterEnabled() {
    return ReadField<bool>("ProfileFilter", "movingAverageEnabled");
}

ProfileFilterMeta QuilApi::GetProfileFilterMeta() {
    return Read<ProfileFilterMeta>("ProfileFilterMeta");
}

}  // namespace Varkon::QUILApi

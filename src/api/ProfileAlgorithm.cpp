// Profile algorithm: "ProfileAlgorithm", "ProfileAlgorithmMeta", "ProfileAlgorithmParams",
// "ProfileAlgorithmParamsLimits", "ProfileAlgorithmParamsMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace {

// The reply to a read of one algorithm's parameters: "algorithmID" must be present but is not
// read; the parameters are the nested "params".
struct ParamsReply {
    ProfileAlgorithmParams params;
};

// A range is the array [min, max]. Element access on a copy extends a shorter array with
// nulls (and turns null into an array), so a missing element fails as a null value.
LimitRange ReadRange(const nlohmann::json& value, const std::string& key) {
    nlohmann::json range = value;
    LimitRange result;
    result.min = WebSockets::GetChecked<uint32_t>(range[0], key);
    result.max = WebSockets::GetChecked<uint32_t>(range[1], key);
    return result;
}

nlohmann::json AlgorithmParameter(uint32_t algorithmID) {
    return ResourceFrame::Object({{"algorithmID", algorithmID}});
}

}  // namespace

namespace ResourceFrame {

template <>
struct Schema<ParamsReply> {
    static inline const auto fields =
        std::make_tuple(Present("algorithmID"), NestedField("params", &ParamsReply::params));
};

template <>
struct Schema<ProfileAlgorithmLimits> {
    using R = ProfileAlgorithmLimits;
    static inline const auto fields =
        Derived<R>(ConvertedField("minPeakHeight", &R::minPeakHeight, ReadRange),
                   ConvertedField("minPeakWidth", &R::minPeakWidth, ReadRange),
                   ConvertedField("thresholdValue", &R::thresholdValue, ReadRange));
};

}  // namespace ResourceFrame

uint32_t QuilApi::GetProfileAlgorithm() {
    return ReadField<uint32_t>("ProfileAlgorithm", "algorithmID");
}

void QuilApi::SetProfileAlgorithm(const uint32_t& algorithmID) {
    Write("ProfileAlgorithm", AlgorithmParameter(algorithmID));
}

ProfileAlgorithmMeta QuilApi::GetProfileAlgorithmMeta() {
    return Read<ProfileAlgorithmMeta>("ProfileAlgorithmMeta");
}

ProfileAlgorithmParamsLimits QuilApi::GetProfileAlgorithmParamsLimits(const uint32_t& algorithmID) {
    return Read<ProfileAlgorithmParamsLimits>("ProfileAlgorithmParamsLimits",
                                              AlgorithmParameter(algorithmID));
}

ProfileAlgorithmParamsMeta QuilApi::GetProfileAlgorithmParamsMeta() {
    return Read<ProfileAlgorithmParamsMeta>("ProfileAlgorithmParamsMeta");
}

ProfileAlgorithmParams QuilApi::GetProfileAlgorithmParams(const uint32_t& algorithmID) {
    return Read<ParamsReply>("ProfileAlgorithmParams", AlgorithmParameter(algorithmID)).params;
}

void QuilApi::SetProfileAlgorithmParams(const uint32_t& algorithmID,
                                        const ProfileAlgorithmParams& params) {
    SetProfileAlgorithmParams(algorithmID, params.minPeakHeight, params.minPeakWidth,
                              params.thresholdValue, params.thresholdTypeID);
}

void QuilApi::SetProfileAlgorithmParams(const uint32_t& algorithmID, const uint32_t& minPeakHeight,
                                        const uint32_t& minPeakWidth,
                                        const uint32_t& thresholdValue,
                                        const uint32_t& thresholdTypeID) {
    const ProfileAlgorithmParams params{minPeakHeight, minPeakWidth, thresholdValue,
                                        thresholdTypeID};
    Write("ProfileAlgorithmParams",
          ResourceFrame::Object({{"algorithmID", algorithmID}, {"params", WriteBody(params)}}));
}

}  // namespace Varkon::QUILApi

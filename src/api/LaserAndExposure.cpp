// Laser power and exposure time: "LaserPower", "LaserPowerMeta", "LaserPowerLimits",
// "ExposureTime", "ExposureTimeLimits", "ExposureTimeMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace Frame {

template <>
struct Schema<LaserPowerMeta> {
    static inline const auto fields =
        std::make_tuple(Field("FactorUnit", &LaserPowerMeta::FactorUnit),
                        Field("FactorPrec", &LaserPowerMeta::FactorPrec));
};

template <>
struct Schema<LaserPowerLimits> {
    using R = LaserPowerLimits;
    static inline const auto fields =
        std::make_tuple(Field("minFactor", &R::minFactor), Field("maxFactor", &R::maxFactor),
                        Field("predefinedFactors", &R::predefinedFactors));
};

template <>
struct Schema<ExposureTimeLimits> {
    static inline const auto fields =
        std::make_tuple(Field("minTime", &ExposureTimeLimits::minTime),
                        Field("maxTime", &ExposureTimeLimits::maxTime));
};

template <>
struct Schema<ExposureTimeMeta> {
    static inline const auto fields =
        std::make_tuple(Field("timeUnit", &ExposureTimeMeta::timeUnit));
};

}  // namespace Frame

double QuilApi::GetLaserPower() {
    return ReadField<double>("LaserPower", "Factor");
}

void QuilApi::SetLaserPower(const double& factor) {
    Write("LaserPower", Frame::Object({{"Factor", factor}}));
}

LaserPowerMeta QuilApi::GetLaserPowerMeta() {
    return Read<LaserPowerMeta>("LaserPowerMeta");
}

LaserPowerLimits QuilApi::GetLaserPowerLimits() {
    return Read<LaserPowerLimits>("LaserPowerLimits");
}

uint32_t QuilApi::GetExposureTime() {
    return ReadField<uint32_t>("ExposureTime", "ExposureTime");
}

void QuilApi::SetExposureTime(const uint32_t& exposureTime) {
    Write("ExposureTime", Frame::Object({{"ExposureTime", exposureTime}}));
}

ExposureTimeLimits QuilApi::GetExposureTimeLimits() {
    return Read<ExposureTimeLimits>("ExposureTimeLimits");
}

ExposureTimeMeta QuilApi::GetExposureTimeMeta() {
    return Read<ExposureTimeMeta>("ExposureTimeMeta");
}

}  // namespace Varkon::QUILApi

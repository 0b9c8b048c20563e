// Laser power and exposure time: "LaserPower", "LaserPowerMeta", "LaserPowerLimits",
// "ExposureTime", "ExposureTimeLimits", "ExposureTimeMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
double QuilApi::GetLaserPower() {
    return ReadField<double>("LaserPower", "Factor");
}

void QuilApi::SetLaserPower(const double& factor) {
    Write("LaserPower", ResourceFrame::Object({{"Factor", factor}}));
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
    Write("ExposureTime", ResourceFrame::Object({{"ExposureTime", exposureTime}}));
}

ExposureTimeLimits QuilApi::GetExposureTimeLimits() {
    return Read<ExposureTimeLimits>("ExposureTimeLimits");
}

ExposureTimeMeta QuilApi::GetExposureTimeMeta() {
    return Read<ExposureTimeMeta>("ExposureTimeMeta");
}

}  // namespace Varkon::QUILApi

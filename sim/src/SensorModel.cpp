#include "SensorModel.h"

#include "Description.h"
#include "Measurements.h"

namespace Varkon::QUILApi::Sim {

SensorModel::SensorModel(uint64_t seed, uint32_t points, double profileRate,
                         const std::map<std::string, std::string>& passwords, uint64_t startUs)
    : pointsPerProfile(points),
      settings(DeviceDescription(points), FactoryDefaults(profileRate)),
      sessions(passwords),
      scene(seed, points, startUs) {
    FollowSettings(startUs);
}

void SensorModel::FollowSettings(uint64_t nowUs) {
    const auto& trigger = settings.Get("Trigger");
    acquisition.Configure({trigger["triggerMode"], trigger["triggerTime"], trigger["encoderSteps"]},
                          nowUs);
}

Acquired SensorModel::LatestAcquired(uint64_t nowUs) const {
    const auto latest = acquisition.Latest();
    const Acquisition::Stamp stamp = latest ? *latest : Acquisition::Stamp{0, nowUs};
    return scene.Capture(stamp.index, stamp.timeUs, acquisition.Rate(),
                         CaptureSettingsOf(settings));
}

}  // namespace Varkon::QUILApi::Sim

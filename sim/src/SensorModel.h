#pragma once

#include "Acquisition.h"
#include "Roles.h"
#include "SettingStore.h"

#include <quil/sim/Scene.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace Varkon::QUILApi::Sim {

/// Everything the sensor knows, guarded by its owner's lock: the device description, the
/// settings and setups, the sessions, the blob writes in progress, the scene and the acquisition
/// schedule.
struct SensorModel {
    /// `startUs`: the sensor time at which it starts.
    SensorModel(uint64_t seed, uint32_t pointsPerProfile, double profileRate,
                const std::map<std::string, std::string>& passwords, uint64_t startUs);

    /// Hands the trigger settings to the acquisition schedule after a change.
    void FollowSettings(uint64_t nowUs);
    /// The latest acquisition, as the current settings compute it.
    Acquired LatestAcquired(uint64_t nowUs) const;

    const uint32_t pointsPerProfile;
    SettingStore settings;
    Sessions sessions;
    std::map<Sessions::ConnectionId, BlockWrite> writes;
    Scene scene;
    Acquisition acquisition;
    std::function<uint64_t()> now;  // sensor time in microseconds
};

/// One resource: the role its writes need, and its reading and writing. An empty `get` or `set`
/// means that the resource cannot be read or written. Both throw Refusal.
struct Resource {
    Role writeRole = Role::Maintenance;
    std::function<nlohmann::json(const nlohmann::json& parameter, Sessions::ConnectionId client)>
        get;
    std::function<void(const nlohmann::json& value, Sessions::ConnectionId client)> set;
};

using ResourceTable = std::map<std::string, Resource>;

/// Every resource of the sensor, bound to `model`.
ResourceTable BuildResources(SensorModel& model);

/// The readings (resource and request parameter) whose changes the sensor announces with
/// "UPDATE" messages.
std::vector<std::pair<std::string, nlohmann::json>> AnnouncedReadings(const SensorModel& model);

}  // namespace Varkon::QUILApi::Sim

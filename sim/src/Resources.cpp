// The table of the sensor's resources: what each one reads and writes, and the role a write
// needs (for a setting, as the catalogue states it).
#include "Description.h"
#include "Measurements.h"
#include "Refusal.h"
#include "SensorModel.h"
#include "Settings.h"
#include "Validation.h"

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

namespace {

// The unsigned member `key` of a request's value or parameter.
uint32_t Unsigned(const json& value, const char* key) {
    if (!value.is_object() || !value.contains(key) || !value[key].is_number_unsigned() ||
        value[key].get<uint64_t>() > 0xFFFFFFFFull) {
        throw Refusal::InvalidArgument();
    }
    return value[key].get<uint32_t>();
}

// The algorithm a request names, or the selected one when it names none.
uint32_t Algorithm(const json& parameter, const SettingStore& settings) {
    if (parameter.is_null()) {
        return settings.Get("ProfileAlgorithm")["algorithmID"];
    }
    return Unsigned(parameter, "algorithmID");
}

// The field of view by offset and height, a second view of "FoVDistance": the offset is the
// near distance's distance from the nearest the sensor can see.
json FoVOf(const SettingStore& settings) {
    const json& d = settings.Get("FoVDistance");
    const double nearest = d["near"];
    const double farthest = d["far"];
    return {{"limitLeft", d["limitLeft"]},
            {"limitRight", d["limitRight"]},
            {"offset", nearest - Geometry::minDistance},
            {"height", farthest - nearest}};
}

void SetFoV(SettingStore& settings, const json& value) {
    const json fov = CheckedUpdate("FoV", FoVOf(settings), value, settings.Description(), false);
    const double nearest = Geometry::minDistance + fov["offset"].get<double>();
    settings.Set("FoVDistance", {{"limitLeft", fov["limitLeft"]},
                                 {"limitRight", fov["limitRight"]},
                                 {"near", nearest},
                                 {"far", nearest + fov["height"].get<double>()}});
}

// The role a write of a catalogued setting needs.
Role RoleToWrite(const std::string& resource) {
    return Catalogue::FindResource(resource)->role == Catalogue::WriteRole::Operator
               ? Role::Operator
               : Role::Maintenance;
}

std::optional<uint32_t> SetupOrAll(const json& value) {
    if (value.is_null()) {
        return std::nullopt;
    }
    return Unsigned(value, "numSetup");
}

}  // namespace

ResourceTable BuildResources(SensorModel& m) {
    ResourceTable table;
    SettingStore& s = m.settings;

    for (const auto& [name, body] : s.Description().items()) {
        table[name].get = [&body = body](const json&, Sessions::ConnectionId) { return body; };
    }
    table["ProfileAlgorithmParamsLimits"].get = [&s](const json& parameter,
                                                     Sessions::ConnectionId) {
        const json& all = s.Description()["ProfileAlgorithmParamsLimits"];
        const auto found = all.find(std::to_string(Algorithm(parameter, s)));
        if (found == all.end()) {
            throw Refusal::InvalidArgument();
        }
        return *found;
    };

    // Every setting the device or a setup keeps, but for the parameters of one algorithm of
    // several, reads and writes its body as it is.
    for (const auto& setting : Catalogue::AllSettings()) {
        if (setting.scope == Catalogue::Scope::Apart || !setting.keyedBy.empty()) {
            continue;
        }
        const std::string resource = setting.resource;
        table[resource] = {
            RoleToWrite(resource),
            [&s, resource](const json&, Sessions::ConnectionId) { return s.Get(resource); },
            [&s, resource](const json& value, Sessions::ConnectionId) { s.Set(resource, value); }};
    }
    table["FoV"] = {RoleToWrite("FoV"),
                    [&s](const json&, Sessions::ConnectionId) { return FoVOf(s); },
                    [&s](const json& value, Sessions::ConnectionId) { SetFoV(s, value); }};
    table["ProfileAlgorithmParams"] = {
        RoleToWrite("ProfileAlgorithmParams"),
        [&s](const json& parameter, Sessions::ConnectionId) {
            const uint32_t id = Algorithm(parameter, s);
            return json{{"algorithmID", id}, {"params", s.AlgorithmParams(id)}};
        },
        [&s](const json& value, Sessions::ConnectionId) {
            if (!value.contains("params")) {
                throw Refusal::InvalidArgument();
            }
            s.SetAlgorithmParams(Unsigned(value, "algorithmID"), value["params"]);
        }};

    table["myRole"] = {Role::Observer,
                       [&m](const json&, Sessions::ConnectionId client) {
                           return json{{"role", RoleName(m.sessions.RoleOf(client))}};
                       },
                       [&m](const json& value, Sessions::ConnectionId client) {
                           if (!value.is_object() || !value.contains("role") ||
                               !value["role"].is_string() ||
                               (value.contains("password") && !value["password"].is_string())) {
                               throw Refusal::InvalidArgument();
                           }
                           m.sessions.Login(client, value["role"], value.value("password", ""));
                       }};

    // Measurements and triggers.
    table["TriggerFire"] = {Role::Operator, nullptr,
                            [&m](const json& value, Sessions::ConnectionId) {
                                if (!m.acquisition.Fire(Unsigned(value, "count"), m.now())) {
                                    throw Refusal::InvalidArgument();
                                }
                            }};
    table["MeasurementValues"].get = [&m](const json&, Sessions::ConnectionId) {
        return MeasurementValuesBody(m.LatestAcquired(m.now()));
    };
    table["Profile"].get = [&m](const json&, Sessions::ConnectionId) {
        return ProfileBody(m.LatestAcquired(m.now()), false);
    };
    table["AugmentedProfile"].get = [&m](const json&, Sessions::ConnectionId) {
        return ProfileBody(m.LatestAcquired(m.now()), true);
    };
    table["Image"].get = [&m](const json&, Sessions::ConnectionId) {
        const uint64_t now = m.now();
        const auto latest = m.acquisition.Latest();
        const auto stamp = latest ? *latest : Acquisition::Stamp{0, now};
        return ImageBody(
            m.scene.Photograph(stamp.index, stamp.timeUs, CaptureSettingsOf(m.settings)));
    };

    // Parameter setups.
    table["ActiveSetup"] = {
        RoleToWrite("ActiveSetup"),
        [&s](const json&, Sessions::ConnectionId) {
            return json{{"active", s.Active()}, {"saved", s.Saved()}};
        },
        [&s](const json& value, Sessions::ConnectionId) { s.Activate(Unsigned(value, "active")); }};
    table["StartupSetup"] = {RoleToWrite("StartupSetup"),
                             [&s](const json&, Sessions::ConnectionId) {
                                 return json{{"numSetup", s.Startup()}};
                             },
                             [&s](const json& value, Sessions::ConnectionId) {
                                 s.SetStartup(Unsigned(value, "numSetup"));
                             }};
    table["StoreToSetup"] = {
        Role::Maintenance, nullptr,
        [&s](const json& value, Sessions::ConnectionId) { s.Store(Unsigned(value, "numSetup")); }};
    table["AllSettingsReset"] = {
        Role::Maintenance, nullptr, [&s](const json& value, Sessions::ConnectionId) {
            if (!value.is_null() && !(value.is_object() && value.empty())) {
                throw Refusal::InvalidArgument();
            }
            s.Reset();
        }};
    table["ParameterSetup"].get = [&s](const json& parameter, Sessions::ConnectionId) {
        return s.SetupContent(parameter.is_null() ? s.Active() : Unsigned(parameter, "numSetup"));
    };

    // Backup and restore.
    table["ReadAllSettings"].get = [&s](const json&, Sessions::ConnectionId) {
        return json{{"blob", s.Blob()}};
    };
    table["ReadSingleSetting"].get = [&s](const json& parameter, Sessions::ConnectionId) {
        return json{{"blob", s.SetupBlob(Unsigned(parameter, "numSetup"))}};
    };
    table["StartSettingWrite"] = {
        Role::Maintenance, nullptr, [&m](const json& value, Sessions::ConnectionId client) {
            const auto setup = SetupOrAll(value);
            if (setup && *setup >= m.settings.Storages()) {
                throw Refusal::InvalidArgument();
            }
            m.writes[client].Start(
                setup, m.settings.Description()["WriteSettingsBlockLimits"]["maxLength"]);
        }};
    table["WriteSettingsBlock"] = {Role::Maintenance, nullptr,
                                   [&m](const json& value, Sessions::ConnectionId client) {
                                       if (const auto blob = m.writes[client].Add(value)) {
                                           m.settings.Restore(blob->text, blob->setup);
                                       }
                                   }};
    return table;
}

std::vector<std::pair<std::string, json>> AnnouncedReadings(const SensorModel& m) {
    std::vector<std::pair<std::string, json>> readings;
    for (const auto& name : DeviceResources()) {
        readings.emplace_back(name, nullptr);
    }
    for (const auto& name : SetupResources()) {
        if (name != "ProfileAlgorithmParams") {
            readings.emplace_back(name, nullptr);
        }
    }
    for (const auto& [id, params] : m.settings.Get("ProfileAlgorithmParams").items()) {
        readings.emplace_back("ProfileAlgorithmParams", json{{"algorithmID", std::stoul(id)}});
    }
    readings.emplace_back("FoV", nullptr);
    readings.emplace_back("ActiveSetup", nullptr);
    readings.emplace_back("StartupSetup", nullptr);
    return readings;
}

}  // namespace Varkon::QUILApi::Sim

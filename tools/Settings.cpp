#include "Settings.h"

#include "RecordJson.h"

#include <stdexcept>

namespace QuilTool {
namespace {

using nlohmann::json;
using Varkon::QUILApi::Quil;

template <class T>
std::function<void(Quil&, const json&)> Writer(void (Quil::*write)(const T&)) {
    return [write](Quil& quil, const json& value) { (quil.*write)(value.get<T>()); };
}

template <class T>
std::function<json(Quil&)> Reader(T (Quil::*read)()) {
    return [read](Quil& quil) { return json((quil.*read)()); };
}

std::vector<Setting> MakeSettings() {
    using Q = Quil;
    std::vector<Setting> settings;
    settings.push_back({"exposure-time", "Exposure time of the camera", Reader(&Q::GetExposureTime),
                        [](Quil& q) {
                            return json{{"unit", q.GetExposureTimeMeta().timeUnit},
                                        {"limits", q.GetExposureTimeLimits()}};
                        },
                        Writer<uint32_t>(&Q::SetExposureTime)});
    settings.push_back({"laser-power", "Laser power factor", Reader(&Q::GetLaserPower),
                        [](Quil& q) {
                            const auto meta = q.GetLaserPowerMeta();
                            return json{{"unit", meta.FactorUnit},
                                        {"precision", meta.FactorPrec},
                                        {"limits", q.GetLaserPowerLimits()}};
                        },
                        Writer<double>(&Q::SetLaserPower)});
    settings.push_back({"trigger", "Trigger mode, option, time and encoder steps",
                        Reader(&Q::GetTrigger),
                        [](Quil& q) {
                            const auto meta = q.GetTriggerMeta();
                            return json{{"unit", meta.timeUnit},
                                        {"limits", q.GetTriggerLimits()},
                                        {"modes", meta.triggerModes},
                                        {"options", meta.options}};
                        },
                        Writer<Varkon::QUILApi::Trigger>(&Q::SetTrigger)});
    settings.push_back({"resolution", "Resolution along x and z", Reader(&Q::GetResolution),
                        [](Quil& q) {
                            return json{{"choices", q.GetResolutionLimits()}};
                        },
                        Writer<Varkon::QUILApi::Resolution>(&Q::SetResolution)});
    settings.push_back(
        {"resampling", "Resampling of profiles onto a grid", Reader(&Q::GetResampling),
         [](Quil& q) {
             const auto meta = q.GetResamplingMeta();
             return json{
                 {"unit", meta.gridUnit},
                 {"precision", meta.gridPrec},
                 {"limits",
                  {{"minGridValue", meta.minGridValue}, {"maxGridValue", meta.maxGridValue}}}};
         },
         Writer<Varkon::QUILApi::Resampling>(&Q::SetResampling)});
    settings.push_back({"profile-filter", "Moving-average profile filter",
                        Reader(&Q::GetProfileFilter),
                        [](Quil& q) {
                            return json{{"limits", q.GetProfileFilterMeta()}};
                        },
                        Writer<Varkon::QUILApi::ProfileFilter>(&Q::SetProfileFilter)});
    settings.push_back({"profile-algorithm", "Algorithm that computes the profiles",
                        Reader(&Q::GetProfileAlgorithm),
                        [](Quil& q) {
                            return json{{"choices", q.GetProfileAlgorithmMeta().algorithms}};
                        },
                        Writer<uint32_t>(&Q::SetProfileAlgorithm)});
    settings.push_back(
        {"algorithm-params", "Parameters of the selected profile algorithm",
         [](Quil& q) { return json(q.GetProfileAlgorithmParams(q.GetProfileAlgorithm())); },
         [](Quil& q) {
             return json{
                 {"units", q.GetProfileAlgorithmParamsMeta()},
                 {"limits", q.GetProfileAlgorithmParamsLimits(q.GetProfileAlgorithm()).limits}};
         },
         [](Quil& q, const json& value) {
             q.SetProfileAlgorithmParams(q.GetProfileAlgorithm(),
                                         value.get<Varkon::QUILApi::ProfileAlgorithmParams>());
         }});
    settings.push_back({"axes", "Definition of the z axis", Reader(&Q::GetAxes),
                        [](Quil& q) {
                            return json{{"choices", q.GetAxesMeta().zAxisDefinitions}};
                        },
                        Writer<uint32_t>(&Q::SetAxes)});
    settings.push_back({"fov", "Field of view by offset and height", Reader(&Q::GetFoV),
                        [](Quil& q) {
                            return json{{"units", q.GetFoVMeta()}, {"limits", q.GetFoVLimits()}};
                        },
                        Writer<Varkon::QUILApi::FoV>(&Q::SetFoV)});
    settings.push_back({"fov-distance", "Field of view by near and far distance",
                        Reader(&Q::GetFoVDistance),
                        [](Quil& q) {
                            return json{{"units", q.GetFoVMeta()}, {"limits", q.GetFoVLimits()}};
                        },
                        Writer<Varkon::QUILApi::FoVDistance>(&Q::SetFoVDistance),
                        false});  // the same field of view as "fov", in other terms
    settings.push_back({"network", "Network settings of the sensor", Reader(&Q::GetNetwork),
                        nullptr, Writer<Varkon::QUILApi::Network>(&Q::SetNetwork),
                        false});  // writing it could make the sensor unreachable
    settings.push_back({"timeserver", "Time servers", Reader(&Q::GetTimeserver),
                        [](Quil& q) {
                            return json{{"numServers", q.GetTimeserverMeta()}};
                        },
                        Writer<Varkon::QUILApi::Timeserver>(&Q::SetTimeserver)});
    settings.push_back({"process-interfaces", "Process interfaces and the UDP output",
                        Reader(&Q::GetProcessInterfaces),
                        [](Quil& q) { return json(q.GetProcessInterfacesMeta()); },
                        Writer<Varkon::QUILApi::ProcessInterfaces>(&Q::SetProcessInterfaces)});
    settings.push_back({"udp-stream-data", "Data ids that the UDP output carries",
                        Reader(&Q::GetUDPStreamData),
                        [](Quil& q) {
                            return json{{"choices", q.GetUDPMeta().data}};
                        },
                        Writer<Varkon::QUILApi::UDPStreamData>(&Q::SetUDPStreamData)});
    settings.push_back({"active-setup", "Active parameter setup", Reader(&Q::GetActiveSetup),
                        [](Quil& q) {
                            return json{{"numStorages", q.GetParameterSetupMeta()}};
                        },
                        [](Quil& q, const json& value) {
                            q.SetActiveSetup(value.is_object() ? value.at("active").get<uint32_t>()
                                                               : value.get<uint32_t>());
                        },
                        false});  // activating a setup replaces the settings saved beside it
    settings.push_back({"startup-setup", "Parameter setup loaded at start-up",
                        Reader(&Q::GetStartupSetup),
                        [](Quil& q) {
                            return json{{"numStorages", q.GetParameterSetupMeta()}};
                        },
                        Writer<uint32_t>(&Q::SetStartupSetup)});
    return settings;
}

json ParseValue(const std::string& text) {
    const json value = json::parse(text, nullptr, false);
    return value.is_discarded() ? json(text) : value;
}

}  // namespace

const std::vector<Setting>& AllSettings() {
    static const std::vector<Setting> settings = MakeSettings();
    return settings;
}

const Setting& FindSetting(const std::string& name) {
    std::string known;
    for (const auto& setting : AllSettings()) {
        if (setting.name == name) {
            return setting;
        }
        known += (known.empty() ? "" : ", ") + setting.name;
    }
    throw std::invalid_argument("unknown setting \"" + name + "\" (known: " + known + ")");
}

json ApplyArguments(const json& current, const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0].find('=') == std::string::npos) {
        return ParseValue(arguments[0]);
    }
    json value = current;
    for (const auto& argument : arguments) {
        const auto equals = argument.find('=');
        if (equals == std::string::npos) {
            throw std::invalid_argument("expected key=value, got \"" + argument + "\"");
        }
        const std::string key = argument.substr(0, equals);
        if (!value.is_object() || !value.contains(key)) {
            throw std::invalid_argument("no member \"" + key + "\" in " + value.dump());
        }
        const std::string text = argument.substr(equals + 1);
        value[key] = value[key].is_string() ? json(text) : ParseValue(text);
    }
    return value;
}

}  // namespace QuilTool

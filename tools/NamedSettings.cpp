#include "NamedSettings.h"

#include "Failure.h"
#include "api/RecordJson.h"

#include <algorithm>
#include <stdexcept>

namespace QuilTool {
namespace {

using nlohmann::json;
using Varkon::QUILApi::Quil;
using Kind = ValueRule::Kind;
using Rules = std::vector<ValueRule>;

template <class T>
std::function<void(Quil&, const json&)> Writer(void (Quil::*write)(const T&)) {
    return [write](Quil& quil, const json& value) {
        (quil.*write)(Varkon::QUILApi::FromPlainJson<T>(value));
    };
}

template <class T>
std::function<json(Quil&)> Reader(T (Quil::*read)()) {
    return [read](Quil& quil) { return json((quil.*read)()); };
}

std::vector<Choice> Choices(const std::vector<Varkon::QUILApi::IdNameEntry>& entries) {
    std::vector<Choice> choices;
    for (const auto& entry : entries) {
        choices.push_back({entry.id, entry.name});
    }
    return choices;
}

std::vector<Choice> Choices(const std::vector<uint32_t>& ids) {
    std::vector<Choice> choices;
    for (uint32_t id : ids) {
        choices.push_back({id, {}});
    }
    return choices;
}

// A whole number with choices, or any whole number when the sensor offers none.
ValueRule ChoiceOrWhole(std::string member, std::vector<Choice> choices) {
    return choices.empty() ? KindRule(std::move(member), Kind::Whole)
                           : ChoiceRule(std::move(member), std::move(choices));
}

// Setup numbers run from 0 to one below the number of storages.
Rules SetupNumber(Quil& q) {
    const uint32_t storages = q.GetParameterSetupMeta();
    return {WholeRule("", 0, storages == 0 ? 0 : storages - 1)};
}

void CheckTriggerOption(Quil& q, const json& value) {
    const auto meta = q.GetTriggerMeta();
    for (const auto& mode : meta.triggerModes) {
        if (value["triggerMode"] != mode.id) {
            continue;
        }
        std::vector<Choice> allowed;
        for (uint32_t option : mode.options) {
            const auto named = std::find_if(meta.options.begin(), meta.options.end(),
                                            [&](const auto& entry) { return entry.id == option; });
            allowed.push_back({option, named == meta.options.end() ? "" : named->name});
        }
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const Choice& choice) { return value["modeOption"] == choice.id; })) {
            throw InvalidValue("trigger.modeOption must be " +
                               Expected(ChoiceRule("modeOption", allowed)) + " for triggerMode " +
                               std::to_string(mode.id) + " (" + mode.name + "); got \"" +
                               Given(value["modeOption"]) + "\"");
        }
    }
}

// The lateral limits must leave the smallest width between them.
void CheckWidth(const std::string& name, Quil& q, const json& value) {
    const auto limits = q.GetFoVLimits();
    const double width = value["limitRight"].get<double>() - value["limitLeft"].get<double>();
    if (width < limits.minWidth) {
        throw InvalidValue(name + ".limitRight must be at least " + FormatNumber(limits.minWidth) +
                           " " + q.GetFoVMeta().xUnit + " beyond limitLeft; got \"" +
                           Given(value["limitRight"]) + "\"");
    }
}

Rules LateralRules(Quil& q, const Varkon::QUILApi::FoVLimits& limits) {
    const std::string unit = q.GetFoVMeta().xUnit;
    return {NumberRule("limitLeft", -limits.maxXMinus, limits.maxXPlus, unit),
            NumberRule("limitRight", -limits.maxXMinus, limits.maxXPlus, unit)};
}

Setting Define(std::string name, std::string description, std::function<json(Quil&)> read,
               std::function<json(Quil&)> describe, std::function<void(Quil&, const json&)> write,
               bool inConfig, std::function<Rules(Quil&)> rules,
               std::function<void(Quil&, const json&)> crossCheck = nullptr,
               std::string changedWith = {}) {
    Setting setting;
    setting.name = std::move(name);
    setting.description = std::move(description);
    setting.read = std::move(read);
    setting.describe = std::move(describe);
    setting.write = std::move(write);
    setting.inConfig = inConfig;
    setting.rules = std::move(rules);
    setting.crossCheck = std::move(crossCheck);
    setting.changedWith = std::move(changedWith);
    return setting;
}

std::vector<Setting> MakeSettings() {
    using Q = Quil;
    std::vector<Setting> settings;
    settings.push_back(Define(
        "exposure-time", "Exposure time of the camera", Reader(&Q::GetExposureTime),
        [](Quil& q) {
            return json{{"unit", q.GetExposureTimeMeta().timeUnit},
                        {"limits", q.GetExposureTimeLimits()}};
        },
        Writer<uint32_t>(&Q::SetExposureTime), true,
        [](Quil& q) {
            const auto limits = q.GetExposureTimeLimits();
            return Rules{
                WholeRule("", limits.minTime, limits.maxTime, q.GetExposureTimeMeta().timeUnit)};
        }));
    settings.push_back(Define(
        "laser-power", "Laser power factor", Reader(&Q::GetLaserPower),
        [](Quil& q) {
            const auto meta = q.GetLaserPowerMeta();
            return json{{"unit", meta.FactorUnit},
                        {"precision", meta.FactorPrec},
                        {"limits", q.GetLaserPowerLimits()}};
        },
        Writer<double>(&Q::SetLaserPower), true,
        [](Quil& q) {
            const auto limits = q.GetLaserPowerLimits();
            return Rules{NumberRule("", limits.minFactor, limits.maxFactor)};
        }));
    settings.push_back(Define(
        "trigger", "Trigger mode, option, time and encoder steps", Reader(&Q::GetTrigger),
        [](Quil& q) {
            const auto meta = q.GetTriggerMeta();
            return json{{"unit", meta.timeUnit},
                        {"limits", q.GetTriggerLimits()},
                        {"modes", meta.triggerModes},
                        {"options", meta.options}};
        },
        Writer<Varkon::QUILApi::Trigger>(&Q::SetTrigger), true,
        [](Quil& q) {
            const auto meta = q.GetTriggerMeta();
            const auto limits = q.GetTriggerLimits();
            std::vector<Choice> modes;
            for (const auto& mode : meta.triggerModes) {
                modes.push_back({mode.id, mode.name});
            }
            return Rules{ChoiceOrWhole("triggerMode", modes),
                         ChoiceOrWhole("modeOption", Choices(meta.options)),
                         WholeRule("triggerTime", limits.minTime, limits.maxTime, meta.timeUnit),
                         WholeRule("encoderSteps", limits.minSteps, limits.maxSteps)};
        },
        CheckTriggerOption));
    settings.push_back(Define(
        "resolution", "Resolution along x and z", Reader(&Q::GetResolution),
        [](Quil& q) {
            return json{{"choices", q.GetResolutionLimits()}};
        },
        Writer<Varkon::QUILApi::Resolution>(&Q::SetResolution), true,
        [](Quil& q) {
            const auto limits = q.GetResolutionLimits();
            return Rules{ChoiceOrWhole("xResolution", Choices(limits.xResolution)),
                         ChoiceOrWhole("zResolution", Choices(limits.zResolution))};
        }));
    settings.push_back(Define(
        "resampling", "Resampling of profiles onto a grid", Reader(&Q::GetResampling),
        [](Quil& q) {
            const auto meta = q.GetResamplingMeta();
            return json{
                {"unit", meta.gridUnit},
                {"precision", meta.gridPrec},
                {"limits",
                 {{"minGridValue", meta.minGridValue}, {"maxGridValue", meta.maxGridValue}}}};
        },
        Writer<Varkon::QUILApi::Resampling>(&Q::SetResampling), true,
        [](Quil& q) {
            const auto meta = q.GetResamplingMeta();
            return Rules{FlagRule("enabled"), NumberRule("gridValue", meta.minGridValue,
                                                         meta.maxGridValue, meta.gridUnit)};
        }));
    settings.push_back(Define(
        "profile-filter", "Moving-average profile filter", Reader(&Q::GetProfileFilter),
        [](Quil& q) {
            return json{{"limits", q.GetProfileFilterMeta()}};
        },
        Writer<Varkon::QUILApi::ProfileFilter>(&Q::SetProfileFilter), true,
        [](Quil& q) {
            const auto meta = q.GetProfileFilterMeta();
            return Rules{FlagRule("movingAverageEnabled"),
                         WholeRule("movingAverageLength", meta.movingAverageMinimumLength,
                                   meta.movingAverageMaximumLength)};
        }));
    settings.push_back(Define(
        "profile-algorithm", "Algorithm that computes the profiles",
        Reader(&Q::GetProfileAlgorithm),
        [](Quil& q) {
            return json{{"choices", q.GetProfileAlgorithmMeta().algorithms}};
        },
        Writer<uint32_t>(&Q::SetProfileAlgorithm), true,
        [](Quil& q) {
            return Rules{ChoiceOrWhole("", Choices(q.GetProfileAlgorithmMeta().algorithms))};
        }));
    settings.push_back(Define(
        "algorithm-params", "Parameters of the selected profile algorithm",
        [](Quil& q) { return json(q.GetProfileAlgorithmParams(q.GetProfileAlgorithm())); },
        [](Quil& q) {
            return json{
                {"units", q.GetProfileAlgorithmParamsMeta()},
                {"limits", q.GetProfileAlgorithmParamsLimits(q.GetProfileAlgorithm()).limits}};
        },
        [](Quil& q, const json& value) {
            q.SetProfileAlgorithmParams(
                q.GetProfileAlgorithm(),
                Varkon::QUILApi::FromPlainJson<Varkon::QUILApi::ProfileAlgorithmParams>(value));
        },
        true,
        [](Quil& q) {
            const auto units = q.GetProfileAlgorithmParamsMeta();
            const auto limits = q.GetProfileAlgorithmParamsLimits(q.GetProfileAlgorithm()).limits;
            std::vector<Choice> types;
            for (const auto& type : limits.thresholdType) {
                types.push_back({type.typeID, type.typeName});
            }
            return Rules{WholeRule("minPeakHeight", limits.minPeakHeight.min,
                                   limits.minPeakHeight.max, units.minPeakHeightUnit),
                         WholeRule("minPeakWidth", limits.minPeakWidth.min, limits.minPeakWidth.max,
                                   units.minPeakWidthUnit),
                         WholeRule("thresholdValue", limits.thresholdValue.min,
                                   limits.thresholdValue.max, units.thresholdValueUnit),
                         ChoiceOrWhole("thresholdTypeID", types)};
        }));
    settings.push_back(Define(
        "axes", "Definition of the z axis", Reader(&Q::GetAxes),
        [](Quil& q) {
            return json{{"choices", q.GetAxesMeta().zAxisDefinitions}};
        },
        Writer<uint32_t>(&Q::SetAxes), true,
        [](Quil& q) {
            return Rules{ChoiceOrWhole("", Choices(q.GetAxesMeta().zAxisDefinitions))};
        }));
    settings.push_back(Define(
        "fov", "Field of view by offset and height", Reader(&Q::GetFoV),
        [](Quil& q) {
            return json{{"units", q.GetFoVMeta()}, {"limits", q.GetFoVLimits()}};
        },
        Writer<Varkon::QUILApi::FoV>(&Q::SetFoV), true,
        [](Quil& q) {
            const auto limits = q.GetFoVLimits();
            const std::string unit = q.GetFoVMeta().zUnit;
            Rules rules = LateralRules(q, limits);
            rules.push_back(NumberRule("offset", 0, limits.maxDistance - limits.minDistance, unit));
            rules.push_back(NumberRule("height", limits.minHeight, limits.maxHeight, unit));
            return rules;
        },
        [](Quil& q, const json& value) { CheckWidth("fov", q, value); }));
    settings.push_back(Define(
        "fov-distance", "Field of view by near and far distance", Reader(&Q::GetFoVDistance),
        [](Quil& q) {
            return json{{"units", q.GetFoVMeta()}, {"limits", q.GetFoVLimits()}};
        },
        Writer<Varkon::QUILApi::FoVDistance>(&Q::SetFoVDistance),
        false,  // the same field of view as "fov", in other terms
        [](Quil& q) {
            const auto limits = q.GetFoVLimits();
            const std::string unit = q.GetFoVMeta().zUnit;
            Rules rules = LateralRules(q, limits);
            rules.push_back(NumberRule("near", limits.minDistance, limits.maxDistance, unit));
            rules.push_back(NumberRule("far", limits.minDistance, limits.maxDistance, unit));
            return rules;
        },
        [](Quil& q, const json& value) {
            CheckWidth("fov-distance", q, value);
            const auto limits = q.GetFoVLimits();
            const double depth = value["far"].get<double>() - value["near"].get<double>();
            if (depth < limits.minHeight || depth > limits.maxHeight) {
                throw InvalidValue("fov-distance.far must be " + FormatNumber(limits.minHeight) +
                                   " to " + FormatNumber(limits.maxHeight) + " " +
                                   q.GetFoVMeta().zUnit + " beyond near; got \"" +
                                   Given(value["far"]) + "\"");
            }
        }));
    settings.push_back(Define(
        "network", "Network settings of the sensor", Reader(&Q::GetNetwork), nullptr,
        Writer<Varkon::QUILApi::Network>(&Q::SetNetwork),
        false,  // writing it could make the sensor unreachable
        [](Quil&) {
            return Rules{FlagRule("useDHCP"), KindRule("staticIP", Kind::Address),
                         KindRule("subnetMask", Kind::Address), KindRule("gateway", Kind::Address)};
        }));
    settings.push_back(Define(
        "timeserver", "Time servers", Reader(&Q::GetTimeserver),
        [](Quil& q) {
            return json{{"numServers", q.GetTimeserverMeta()}};
        },
        Writer<Varkon::QUILApi::Timeserver>(&Q::SetTimeserver), true,
        [](Quil& q) {
            ValueRule servers = KindRule("ntpServers", Kind::TextList);
            servers.maxCount = q.GetTimeserverMeta();
            return Rules{FlagRule("useNTP"), servers};
        }));
    settings.push_back(Define(
        "process-interfaces", "Process interfaces and the UDP output",
        Reader(&Q::GetProcessInterfaces),
        [](Quil& q) { return json(q.GetProcessInterfacesMeta()); },
        Writer<Varkon::QUILApi::ProcessInterfaces>(&Q::SetProcessInterfaces), true,
        [](Quil& q) {
            const auto meta = q.GetProcessInterfacesMeta();
            return Rules{
                FlagRule("enableModbus"),
                FlagRule("enableOPCUA"),
                ChoiceOrWhole("realtimeProtocolID", Choices(meta.availableRTEthProtocols)),
                FlagRule("enableUDPStreaming"),
                KindRule("udpDestinationIP", Kind::AddressOrEmpty),
                WholeRule("udpDestinationPort", 0, 65535),
                ChoiceOrWhole("iolProcessDataLayout", Choices(meta.iolProcessDataLayouts))};
        }));
    settings.push_back(Define(
        "udp-stream-data", "Data ids that the UDP output carries", Reader(&Q::GetUDPStreamData),
        [](Quil& q) {
            return json{{"choices", q.GetUDPMeta().data}};
        },
        Writer<Varkon::QUILApi::UDPStreamData>(&Q::SetUDPStreamData), true,
        [](Quil& q) {
            ValueRule ids = KindRule("enabledDataIDs", Kind::WholeList);
            ids.choices = Choices(q.GetUDPMeta().data);
            return Rules{ids};
        }));
    settings.push_back(Define(
        "active-setup", "Active parameter setup", Reader(&Q::GetActiveSetup),
        [](Quil& q) {
            return json{{"numStorages", q.GetParameterSetupMeta()}};
        },
        nullptr,
        false,  // activating a setup replaces the settings saved beside it
        nullptr, nullptr, "quil setup activate N"));
    settings.push_back(Define(
        "startup-setup", "Parameter setup loaded at start-up", Reader(&Q::GetStartupSetup),
        [](Quil& q) {
            return json{{"numStorages", q.GetParameterSetupMeta()}};
        },
        Writer<uint32_t>(&Q::SetStartupSetup), true, SetupNumber));
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

nlohmann::json ReadConfig(Varkon::QUILApi::Quil& quil) {
    nlohmann::json config = nlohmann::json::object();
    for (const auto& setting : AllSettings()) {
        if (setting.inConfig && setting.write) {
            config[setting.name] = setting.read(quil);
        }
    }
    return config;
}

const Setting& FindSetting(const std::string& name) {
    std::string known;
    for (const auto& setting : AllSettings()) {
        if (setting.name == name) {
            return setting;
        }
        known += (known.empty() ? "" : ", ") + setting.name;
    }
    throw UsageError("unknown setting \"" + name + "\" (known: " + known + ")");
}

json ApplyArguments(const std::string& name, const json& current,
                    const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0].find('=') == std::string::npos) {
        return ParseValue(arguments[0]);
    }
    json value = current;
    for (const auto& argument : arguments) {
        const auto equals = argument.find('=');
        if (equals == std::string::npos) {
            throw InvalidValue(name + " takes key=value pairs; got \"" + argument + "\"");
        }
        const std::string key = argument.substr(0, equals);
        if (!value.is_object() || !value.contains(key)) {
            std::string members;
            for (const auto& [member, ignored] : value.items()) {
                members += (members.empty() ? "" : ", ") + member;
            }
            throw InvalidValue(name + " has no member \"" + key + "\"" +
                               (members.empty() ? "" : " (members: " + members + ")"));
        }
        const std::string text = argument.substr(equals + 1);
        value[key] = value[key].is_string() ? json(text) : ParseValue(text);
    }
    return value;
}

void CheckWritable(const Setting& setting, Quil& quil, const json& value) {
    if (!setting.changedWith.empty()) {
        throw UsageError(setting.name + " is changed with `" + setting.changedWith + "`");
    }
    if (!setting.write) {
        throw UsageError(setting.name + " cannot be written");
    }
    if (setting.rules) {
        CheckValue(setting.name, setting.rules(quil), value);
    }
    if (setting.crossCheck) {
        setting.crossCheck(quil, value);
    }
}

}  // namespace QuilTool

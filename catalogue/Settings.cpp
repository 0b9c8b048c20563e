// The rows of the catalogue: one per writable setting.
#include "Settings.h"

#include "Check.h"

#include <quil/Json.h>

#include <type_traits>

namespace Varkon::QUILApi::Catalogue {
namespace {

using nlohmann::json;

// Builds a member's rule.
struct Rule {
    explicit Rule(const char* member) { rule.member = member; }
    Rule& As(Kind kind) {
        rule.kind = kind;
        kindGiven = true;
        return *this;
    }
    Rule& Range(std::string min, std::string max) {
        rule.min = std::move(min);
        rule.max = std::move(max);
        return *this;
    }
    Rule& Unit(std::string unit) {
        rule.unit = std::move(unit);
        return *this;
    }
    Rule& OneOf(std::string choices) {
        rule.choices = std::move(choices);
        return *this;
    }
    Rule& AtMost(std::string count) {
        rule.maxCount = std::move(count);
        return *this;
    }

    MemberRule rule;
    bool kindGiven = false;
};

template <class T>
constexpr Kind KindOf() {
    if constexpr (std::is_same_v<T, bool>) {
        return Kind::Flag;
    } else if constexpr (std::is_same_v<T, uint32_t>) {
        return Kind::Whole;
    } else if constexpr (std::is_same_v<T, double>) {
        return Kind::Number;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return Kind::Text;
    } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
        return Kind::TextList;
    } else {
        static_assert(std::is_same_v<T, std::vector<uint32_t>>, "a member kind to check");
        return Kind::WholeList;
    }
}

// The rules of a body that `Record` describes: each of its fields, of the kind its member has
// (unless given), read-only as marked, with the limits and choices of `rules`.
template <class Record>
std::vector<MemberRule> Members(std::initializer_list<Rule> rules = {}) {
    std::vector<MemberRule> members;
    VisitFields<Record>([&](const auto& field) {
        using Type = typename std::decay_t<decltype(field)>::Type;
        Rule rule(field.key);
        rule.rule.kind = KindOf<Type>();
        for (const Rule& given : rules) {
            if (given.rule.member == field.key) {
                const Kind kind = given.kindGiven ? given.rule.kind : rule.rule.kind;
                rule = given;
                rule.rule.kind = kind;
            }
        }
        rule.rule.readOnly = field.readOnly;
        members.push_back(rule.rule);
    });
    return members;
}

template <class T>
std::function<json(Quil&)> Reader(T (Quil::*read)()) {
    return [read](Quil& quil) { return json((quil.*read)()); };
}

template <class T>
std::function<void(Quil&, const json&)> Writer(void (Quil::*write)(const T&)) {
    return [write](Quil& quil, const json& value) { (quil.*write)(FromPlainJson<T>(value)); };
}

const char* const kAlgorithmLimits = "/ProfileAlgorithmParamsLimits/{id}/limits/";

std::string AlgorithmLimit(const char* member, int end) {
    return std::string(kAlgorithmLimits) + member + "/" + std::to_string(end);
}

// The mode's options are those the chosen trigger mode lists.
std::optional<Violation> OptionOfMode(const json& body, Description& d) {
    const json& options = d.At("/TriggerMeta/options");
    for (const auto& mode : d.At("/TriggerMeta/triggerModes")) {
        if (mode.at("id") != body["triggerMode"]) {
            continue;
        }
        std::string allowed;
        bool found = false;
        for (const auto& option : mode.at("options")) {
            found = found || option == body["modeOption"];
            std::string name;
            for (const auto& named : options) {
                if (named.at("id") == option) {
                    name = named.value("name", "");
                }
            }
            allowed += (allowed.empty() ? "" : ", ") + option.dump() +
                       (name.empty() ? "" : " (" + name + ")");
        }
        if (!found) {
            return Violation{"modeOption",
                             "one of " + allowed + " for triggerMode " + mode["id"].dump() + " (" +
                                 mode.value("name", "") + ")",
                             body["modeOption"]};
        }
    }
    return std::nullopt;
}

constexpr double kSlack = 1e-9;

// The lateral limits leave the smallest width between them.
std::optional<Violation> Width(const json& body, Description& d) {
    const double minWidth = d.At("/FoVLimits/minWidth").get<double>();
    if (body["limitRight"].get<double>() - body["limitLeft"].get<double>() < minWidth - kSlack) {
        return Violation{"limitRight",
                         "at least " + FormatNumber(minWidth) + " " +
                             d.At("/FoVMeta/xUnit").get<std::string>() + " beyond limitLeft",
                         body["limitRight"]};
    }
    return std::nullopt;
}

// The far distance lies the smallest to the largest height beyond the near one.
std::optional<Violation> Depth(const json& body, Description& d) {
    const double minHeight = d.At("/FoVLimits/minHeight").get<double>();
    const double maxHeight = d.At("/FoVLimits/maxHeight").get<double>();
    const double depth = body["far"].get<double>() - body["near"].get<double>();
    if (depth < minHeight - kSlack || depth > maxHeight + kSlack) {
        return Violation{"far",
                         FormatNumber(minHeight) + " to " + FormatNumber(maxHeight) + " " +
                             d.At("/FoVMeta/zUnit").get<std::string>() + " beyond near",
                         body["far"]};
    }
    return std::nullopt;
}

Rule Lateral(const char* member) {
    return Rule(member)
        .Range("-/FoVLimits/maxXMinus", "/FoVLimits/maxXPlus")
        .Unit("/FoVMeta/xUnit");
}

Rule Distance(const char* member) {
    return Rule(member)
        .Range("/FoVLimits/minDistance", "/FoVLimits/maxDistance")
        .Unit("/FoVMeta/zUnit");
}

Rule SetupNumber(const char* member) {
    return Rule(member).As(Kind::Whole).Range("0", "/ParameterSetupMeta/numStorages - 1");
}

json FieldOfViewDescription(Quil& q) {
    return {{"units", q.GetFoVMeta()}, {"limits", q.GetFoVLimits()}};
}

json SetupsDescription(Quil& q) {
    return {{"numStorages", q.GetParameterSetupMeta()}};
}

std::vector<Setting> MakeSettings() {
    using Q = Quil;
    const auto row = [](const char* resource, const char* name, const char* summary) {
        Setting setting;
        setting.resource = resource;
        setting.name = name;
        setting.summary = summary;
        return setting;
    };
    std::vector<Setting> all;

    Setting s = row("ExposureTime", "exposure-time", "Exposure time of the camera");
    s.plain = true;
    s.members = {Rule("ExposureTime")
                     .As(Kind::Whole)
                     .Range("/ExposureTimeLimits/minTime", "/ExposureTimeLimits/maxTime")
                     .Unit("/ExposureTimeMeta/timeUnit")
                     .rule};
    s.access = {Reader(&Q::GetExposureTime), Writer<uint32_t>(&Q::SetExposureTime), [](Quil& q) {
                    return json{{"unit", q.GetExposureTimeMeta().timeUnit},
                                {"limits", q.GetExposureTimeLimits()}};
                }};
    all.push_back(s);

    s = row("LaserPower", "laser-power", "Laser power factor");
    s.plain = true;
    s.members = {Rule("Factor")
                     .As(Kind::Number)
                     .Range("/LaserPowerLimits/minFactor", "/LaserPowerLimits/maxFactor")
                     .rule};
    s.access = {Reader(&Q::GetLaserPower), Writer<double>(&Q::SetLaserPower), [](Quil& q) {
                    const auto meta = q.GetLaserPowerMeta();
                    return json{{"unit", meta.FactorUnit},
                                {"precision", meta.FactorPrec},
                                {"limits", q.GetLaserPowerLimits()}};
                }};
    all.push_back(s);

    s = row("Trigger", "trigger", "Trigger mode, option, time and encoder steps");
    s.members = Members<Trigger>(
        {Rule("triggerMode").OneOf("/TriggerMeta/triggerModes"),
         Rule("modeOption").OneOf("/TriggerMeta/options"),
         Rule("triggerTime")
             .Range("/TriggerLimits/minTime", "/TriggerLimits/maxTime")
             .Unit("/TriggerMeta/timeUnit"),
         Rule("encoderSteps").Range("/TriggerLimits/minSteps", "/TriggerLimits/maxSteps")});
    s.crossRules = {OptionOfMode};
    s.access = {Reader(&Q::GetTrigger), Writer<Trigger>(&Q::SetTrigger), [](Quil& q) {
                    const auto meta = q.GetTriggerMeta();
                    return json{{"unit", meta.timeUnit},
                                {"limits", q.GetTriggerLimits()},
                                {"modes", meta.triggerModes},
                                {"options", meta.options}};
                }};
    all.push_back(s);

    s = row("Resolution", "resolution", "Resolution along x and z");
    s.members = Members<Resolution>({Rule("xResolution").OneOf("/ResolutionLimits/xResolution"),
                                     Rule("zResolution").OneOf("/ResolutionLimits/zResolution")});
    s.access = {Reader(&Q::GetResolution), Writer<Resolution>(&Q::SetResolution), [](Quil& q) {
                    return json{{"choices", q.GetResolutionLimits()}};
                }};
    all.push_back(s);

    s = row("Resampling", "resampling", "Resampling of profiles onto a grid");
    s.members = Members<Resampling>(
        {Rule("gridValue")
             .Range("/ResamplingMeta/minGridValue", "/ResamplingMeta/maxGridValue")
             .Unit("/ResamplingMeta/gridUnit")});
    s.access = {Reader(&Q::GetResampling), Writer<Resampling>(&Q::SetResampling), [](Quil& q) {
                    const auto meta = q.GetResamplingMeta();
                    return json{{"unit", meta.gridUnit},
                                {"precision", meta.gridPrec},
                                {"limits",
                                 {{"minGridValue", meta.minGridValue},
                                  {"maxGridValue", meta.maxGridValue}}}};
                }};
    all.push_back(s);

    s = row("ProfileFilter", "profile-filter", "Moving-average profile filter");
    s.members =
        Members<ProfileFilter>({Rule("movingAverageLength")
                                    .Range("/ProfileFilterMeta/movingAverageMinimumLength",
                                           "/ProfileFilterMeta/movingAverageMaximumLength")});
    s.access = {Reader(&Q::GetProfileFilter), Writer<ProfileFilter>(&Q::SetProfileFilter),
                [](Quil& q) {
                    return json{{"limits", q.GetProfileFilterMeta()}};
                }};
    all.push_back(s);

    s = row("ProfileAlgorithm", "profile-algorithm", "Algorithm that computes the profiles");
    s.plain = true;
    s.members = {
        Rule("algorithmID").As(Kind::Whole).OneOf("/ProfileAlgorithmMeta/algorithms").rule};
    s.access = {Reader(&Q::GetProfileAlgorithm), Writer<uint32_t>(&Q::SetProfileAlgorithm),
                [](Quil& q) {
                    return json{{"choices", q.GetProfileAlgorithmMeta().algorithms}};
                }};
    all.push_back(s);

    s = row("ProfileAlgorithmParams", "algorithm-params",
            "Parameters of the selected profile algorithm");
    s.keyedBy = "algorithmID";
    s.members = Members<ProfileAlgorithmParams>(
        {Rule("minPeakHeight")
             .Range(AlgorithmLimit("minPeakHeight", 0), AlgorithmLimit("minPeakHeight", 1))
             .Unit("/ProfileAlgorithmParamsMeta/minPeakHeightUnit"),
         Rule("minPeakWidth")
             .Range(AlgorithmLimit("minPeakWidth", 0), AlgorithmLimit("minPeakWidth", 1))
             .Unit("/ProfileAlgorithmParamsMeta/minPeakWidthUnit"),
         Rule("thresholdValue")
             .Range(AlgorithmLimit("thresholdValue", 0), AlgorithmLimit("thresholdValue", 1))
             .Unit("/ProfileAlgorithmParamsMeta/thresholdValueUnit"),
         Rule("thresholdTypeID").OneOf(std::string(kAlgorithmLimits) + "thresholdType")});
    s.access = {
        [](Quil& q) { return json(q.GetProfileAlgorithmParams(q.GetProfileAlgorithm())); },
        [](Quil& q, const json& value) {
            q.SetProfileAlgorithmParams(q.GetProfileAlgorithm(),
                                        FromPlainJson<ProfileAlgorithmParams>(value));
        },
        [](Quil& q) {
            return json{
                {"units", q.GetProfileAlgorithmParamsMeta()},
                {"limits", q.GetProfileAlgorithmParamsLimits(q.GetProfileAlgorithm()).limits}};
        },
        [](Quil& q) { return std::to_string(q.GetProfileAlgorithm()); }};
    all.push_back(s);

    s = row("Axes", "axes", "Definition of the z axis");
    s.plain = true;
    s.members = {
        Rule("zAxisDefinitionID").As(Kind::Whole).OneOf("/AxesMeta/zAxisDefinitions").rule};
    s.access = {Reader(&Q::GetAxes), Writer<uint32_t>(&Q::SetAxes), [](Quil& q) {
                    return json{{"choices", q.GetAxesMeta().zAxisDefinitions}};
                }};
    all.push_back(s);

    s = row("FoV", "fov", "Field of view by offset and height");
    s.scope = Scope::Apart;  // a view of "FoVDistance"
    s.members = Members<FoV>({Lateral("limitLeft"), Lateral("limitRight"),
                              Rule("offset")
                                  .Range("0", "/FoVLimits/maxDistance - /FoVLimits/minDistance")
                                  .Unit("/FoVMeta/zUnit"),
                              Rule("height")
                                  .Range("/FoVLimits/minHeight", "/FoVLimits/maxHeight")
                                  .Unit("/FoVMeta/zUnit")});
    s.crossRules = {Width};
    s.access = {Reader(&Q::GetFoV), Writer<FoV>(&Q::SetFoV), FieldOfViewDescription};
    all.push_back(s);

    s = row("FoVDistance", "fov-distance", "Field of view by near and far distance");
    s.inConfig = false;  // the same field of view as "fov", in other terms
    s.members = Members<FoVDistance>(
        {Lateral("limitLeft"), Lateral("limitRight"), Distance("near"), Distance("far")});
    s.crossRules = {Width, Depth};
    s.access = {Reader(&Q::GetFoVDistance), Writer<FoVDistance>(&Q::SetFoVDistance),
                FieldOfViewDescription};
    all.push_back(s);

    s = row("Network", "network", "Network settings of the sensor");
    s.scope = Scope::Device;
    s.inConfig = false;  // writing it could make the sensor unreachable
    s.members =
        Members<Network>({Rule("staticIP").As(Kind::Address), Rule("subnetMask").As(Kind::Address),
                          Rule("gateway").As(Kind::Address)});
    s.access = {Reader(&Q::GetNetwork), Writer<Network>(&Q::SetNetwork), nullptr};
    all.push_back(s);

    s = row("Timeserver", "timeserver", "Time servers");
    s.scope = Scope::Device;
    s.members = Members<Timeserver>({Rule("ntpServers").AtMost("/TimeserverMeta/numServers")});
    s.access = {Reader(&Q::GetTimeserver), Writer<Timeserver>(&Q::SetTimeserver), [](Quil& q) {
                    return json{{"numServers", q.GetTimeserverMeta()}};
                }};
    all.push_back(s);

    s = row("ProcessInterfaces", "process-interfaces", "Process interfaces and the UDP output");
    s.scope = Scope::Device;
    s.role = WriteRole::Operator;
    s.members = Members<ProcessInterfaces>(
        {Rule("realtimeProtocolID").OneOf("/ProcessInterfacesMeta/availableRTEthProtocols"),
         Rule("udpDestinationIP").As(Kind::AddressOrEmpty),
         Rule("udpDestinationPort").Range("0", "65535"),
         Rule("iolProcessDataLayout").OneOf("/ProcessInterfacesMeta/iolProcessDataLayouts")});
    s.access = {Reader(&Q::GetProcessInterfaces),
                Writer<ProcessInterfaces>(&Q::SetProcessInterfaces),
                [](Quil& q) { return json(q.GetProcessInterfacesMeta()); }};
    all.push_back(s);

    s = row("UDPStreamData", "udp-stream-data", "Data ids that the UDP output carries");
    s.scope = Scope::Device;
    s.role = WriteRole::Operator;
    s.members = Members<UDPStreamData>({Rule("enabledDataIDs").OneOf("/UDPMeta/data")});
    s.access = {Reader(&Q::GetUDPStreamData), Writer<UDPStreamData>(&Q::SetUDPStreamData),
                [](Quil& q) {
                    return json{{"choices", q.GetUDPMeta().data}};
                }};
    all.push_back(s);

    s = row("ActiveSetup", "active-setup", "Active parameter setup");
    s.scope = Scope::Apart;
    s.role = WriteRole::Operator;
    s.inConfig = false;  // activating a setup replaces the settings saved beside it
    s.plain = true;
    s.changedWith = "quil setup activate N";
    s.members = {SetupNumber("active").rule};
    s.access = {Reader(&Q::GetActiveSetup), nullptr, SetupsDescription};
    all.push_back(s);

    s = row("StartupSetup", "startup-setup", "Parameter setup loaded at start-up");
    s.scope = Scope::Apart;
    s.plain = true;
    s.members = {SetupNumber("numSetup").rule};
    s.access = {Reader(&Q::GetStartupSetup), Writer<uint32_t>(&Q::SetStartupSetup),
                SetupsDescription};
    all.push_back(s);
    return all;
}

}  // namespace

const std::vector<Setting>& AllSettings() {
    static const std::vector<Setting> settings = MakeSettings();
    return settings;
}

const Setting* FindResource(const std::string& resource) {
    for (const auto& setting : AllSettings()) {
        if (setting.resource == resource) {
            return &setting;
        }
    }
    return nullptr;
}

const Setting* FindName(const std::string& name) {
    for (const auto& setting : AllSettings()) {
        if (setting.name == name) {
            return &setting;
        }
    }
    return nullptr;
}

std::vector<std::string> ResourcesIn(Scope scope) {
    std::vector<std::string> resources;
    for (const auto& setting : AllSettings()) {
        if (setting.scope == scope) {
            resources.push_back(setting.resource);
        }
    }
    return resources;
}

std::string ScopeOn(const Setting& setting, Quil& quil) {
    return setting.access.scope ? setting.access.scope(quil) : std::string();
}

}  // namespace Varkon::QUILApi::Catalogue

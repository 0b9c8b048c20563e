// The client's operations whose replies the reply fuzzer feeds: every read, and the writes whose
// replies the client interprets beyond ACK (session, role, the settings write conversation).
// Each has a name, which an input of the fuzzer and the file of its seed start with, so that a
// new operation leaves the other seeds as they are.
#pragma once

#include <quil/Quil.h>

#include <functional>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Fuzzing {

struct Operation {
    const char* name;  // the operation's name in Quil
    std::function<void(Quil&)> run;
};

inline const std::vector<Operation>& Operations() {
    static const std::vector<Operation> operations = {
        {"Connect", [](Quil& q) { q.Connect(); }},
        {"Login", [](Quil& q) { q.Login("maintenance", "maintenance"); }},
        {"SetExposureTime", [](Quil& q) { q.SetExposureTime(500); }},
        {"WriteSingleSetting", [](Quil& q) { q.WriteSingleSetting("c2V0dGluZ3M=", 1); }},
        {"GetSensorMetaData", [](Quil& q) { q.GetSensorMetaData(); }},
        {"GetNetwork", [](Quil& q) { q.GetNetwork(); }},
        {"GetTimeserverMeta", [](Quil& q) { q.GetTimeserverMeta(); }},
        {"GetTimeserver", [](Quil& q) { q.GetTimeserver(); }},
        {"GetProcessInterfacesMeta", [](Quil& q) { q.GetProcessInterfacesMeta(); }},
        {"GetProcessInterfaces", [](Quil& q) { q.GetProcessInterfaces(); }},
        {"GetUDPMeta", [](Quil& q) { q.GetUDPMeta(); }},
        {"GetUDPStreamData", [](Quil& q) { q.GetUDPStreamData(); }},
        {"GetLaserPower", [](Quil& q) { q.GetLaserPower(); }},
        {"GetLaserPowerMeta", [](Quil& q) { q.GetLaserPowerMeta(); }},
        {"GetLaserPowerLimits", [](Quil& q) { q.GetLaserPowerLimits(); }},
        {"GetExposureTime", [](Quil& q) { q.GetExposureTime(); }},
        {"GetExposureTimeLimits", [](Quil& q) { q.GetExposureTimeLimits(); }},
        {"GetExposureTimeMeta", [](Quil& q) { q.GetExposureTimeMeta(); }},
        {"GetTrigger", [](Quil& q) { q.GetTrigger(); }},
        {"GetTriggerLimits", [](Quil& q) { q.GetTriggerLimits(); }},
        {"GetTriggerMeta", [](Quil& q) { q.GetTriggerMeta(); }},
        {"GetResolution", [](Quil& q) { q.GetResolution(); }},
        {"GetResolutionLimits", [](Quil& q) { q.GetResolutionLimits(); }},
        {"GetResamplingEnabled", [](Quil& q) { q.GetResamplingEnabled(); }},
        {"GetResampling", [](Quil& q) { q.GetResampling(); }},
        {"GetResamplingMeta", [](Quil& q) { q.GetResamplingMeta(); }},
        {"GetProfileFilter", [](Quil& q) { q.GetProfileFilter(); }},
        {"GetProfileFilterEnabled", [](Quil& q) { q.GetProfileFilterEnabled(); }},
        {"GetProfileFilterMeta", [](Quil& q) { q.GetProfileFilterMeta(); }},
        {"GetProfileAlgorithm", [](Quil& q) { q.GetProfileAlgorithm(); }},
        {"GetProfileAlgorithmMeta", [](Quil& q) { q.GetProfileAlgorithmMeta(); }},
        {"GetProfileAlgorithmParamsLimits", [](Quil& q) { q.GetProfileAlgorithmParamsLimits(1); }},
        {"GetProfileAlgorithmParamsMeta", [](Quil& q) { q.GetProfileAlgorithmParamsMeta(); }},
        {"GetProfileAlgorithmParams", [](Quil& q) { q.GetProfileAlgorithmParams(1); }},
        {"GetAxesMeta", [](Quil& q) { q.GetAxesMeta(); }},
        {"GetAxes", [](Quil& q) { q.GetAxes(); }},
        {"GetFoV", [](Quil& q) { q.GetFoV(); }},
        {"GetFoVDistance", [](Quil& q) { q.GetFoVDistance(); }},
        {"GetFoVLimits", [](Quil& q) { q.GetFoVLimits(); }},
        {"GetFoVMeta", [](Quil& q) { q.GetFoVMeta(); }},
        {"ReadAllSettings", [](Quil& q) { q.ReadAllSettings(); }},
        {"ReadSingleSetting", [](Quil& q) { q.ReadSingleSetting(0); }},
        {"GetStartupSetup", [](Quil& q) { q.GetStartupSetup(); }},
        {"GetParameterSetup", [](Quil& q) { q.GetParameterSetup(0); }},
        {"GetParameterSetupMeta", [](Quil& q) { q.GetParameterSetupMeta(); }},
        {"GetActiveSetup", [](Quil& q) { q.GetActiveSetup(); }},
        {"GetMeasurementValues", [](Quil& q) { q.GetMeasurementValues(); }},
        {"GetMeasurementMeta", [](Quil& q) { q.GetMeasurementMeta(); }},
        {"GetMeasurementValuesMeta", [](Quil& q) { q.GetMeasurementValuesMeta(); }},
        {"GetProfile", [](Quil& q) { q.GetProfile(); }},
        {"GetProfileMeta", [](Quil& q) { q.GetProfileMeta(); }},
        {"GetAugmentedProfile", [](Quil& q) { q.GetAugmentedProfile(); }},
        {"GetImage", [](Quil& q) { q.GetImage(); }},
        {"GetImageMeta", [](Quil& q) { q.GetImageMeta(); }},
    };
    return operations;
}

/// The operation called `name`, or null.
inline const Operation* FindOperation(const std::string& name) {
    for (const auto& operation : Operations()) {
        if (name == operation.name) {
            return &operation;
        }
    }
    return nullptr;
}

}  // namespace Varkon::QUILApi::Fuzzing

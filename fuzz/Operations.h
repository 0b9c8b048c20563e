// The client's operations whose replies the reply fuzzer feeds: every read, and the writes whose
// replies the client interprets beyond ACK (session, role, the settings write conversation).
#pragma once

#include <quil/Quil.h>

#include <functional>
#include <vector>

namespace Varkon::QUILApi::Fuzzing {

using Operation = std::function<void(Quil&)>;

inline const std::vector<Operation>& Operations() {
    static const std::vector<Operation> operations = {
        [](Quil& q) { q.Connect(); },
        [](Quil& q) { q.Login("maintenance", "maintenance"); },
        [](Quil& q) { q.SetExposureTime(500); },
        [](Quil& q) { q.WriteSingleSetting("c2V0dGluZ3M=", 1); },
        [](Quil& q) { q.GetSensorMetaData(); },
        [](Quil& q) { q.GetNetwork(); },
        [](Quil& q) { q.GetTimeserverMeta(); },
        [](Quil& q) { q.GetTimeserver(); },
        [](Quil& q) { q.GetProcessInterfacesMeta(); },
        [](Quil& q) { q.GetProcessInterfaces(); },
        [](Quil& q) { q.GetUDPMeta(); },
        [](Quil& q) { q.GetUDPStreamData(); },
        [](Quil& q) { q.GetLaserPower(); },
        [](Quil& q) { q.GetLaserPowerMeta(); },
        [](Quil& q) { q.GetLaserPowerLimits(); },
        [](Quil& q) { q.GetExposureTime(); },
        [](Quil& q) { q.GetExposureTimeLimits(); },
        [](Quil& q) { q.GetExposureTimeMeta(); },
        [](Quil& q) { q.GetTrigger(); },
        [](Quil& q) { q.GetTriggerLimits(); },
        [](Quil& q) { q.GetTriggerMeta(); },
        [](Quil& q) { q.GetResolution(); },
        [](Quil& q) { q.GetResolutionLimits(); },
        [](Quil& q) { q.GetResamplingEnabled(); },
        [](Quil& q) { q.GetResampling(); },
        [](Quil& q) { q.GetResamplingMeta(); },
        [](Quil& q) { q.GetProfileFilter(); },
        [](Quil& q) { q.GetProfileFilterEnabled(); },
        [](Quil& q) { q.GetProfileFilterMeta(); },
        [](Quil& q) { q.GetProfileAlgorithm(); },
        [](Quil& q) { q.GetProfileAlgorithmMeta(); },
        [](Quil& q) { q.GetProfileAlgorithmParamsLimits(1); },
        [](Quil& q) { q.GetProfileAlgorithmParamsMeta(); },
        [](Quil& q) { q.GetProfileAlgorithmParams(1); },
        [](Quil& q) { q.GetAxesMeta(); },
        [](Quil& q) { q.GetAxes(); },
        [](Quil& q) { q.GetFoV(); },
        [](Quil& q) { q.GetFoVDistance(); },
        [](Quil& q) { q.GetFoVLimits(); },
        [](Quil& q) { q.GetFoVMeta(); },
        [](Quil& q) { q.ReadAllSettings(); },
        [](Quil& q) { q.ReadSingleSetting(0); },
        [](Quil& q) { q.GetStartupSetup(); },
        [](Quil& q) { q.GetParameterSetup(0); },
        [](Quil& q) { q.GetParameterSetupMeta(); },
        [](Quil& q) { q.GetActiveSetup(); },
        [](Quil& q) { q.GetMeasurementValues(); },
        [](Quil& q) { q.GetMeasurementMeta(); },
        [](Quil& q) { q.GetMeasurementValuesMeta(); },
        [](Quil& q) { q.GetProfile(); },
        [](Quil& q) { q.GetProfileMeta(); },
        [](Quil& q) { q.GetAugmentedProfile(); },
        [](Quil& q) { q.GetImage(); },
        [](Quil& q) { q.GetImageMeta(); },
    };
    return operations;
}

}  // namespace Varkon::QUILApi::Fuzzing

#pragma once

// JSON forms of the library's records, for the tool's input and output. The keys are the field
// names, which are the sensor's own keys.

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

namespace Varkon::QUILApi {

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(IdNameEntry, id, name)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(SensorMetaData, sensorType, serialNumber, vendorName,
                                   aggregateVersion, controllerVersions)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Network, useDHCP, staticIP, subnetMask, gateway, macAdress)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Timeserver, useNTP, ntpServers)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProcessInterfaces, enableModbus, enableOPCUA, realtimeProtocolID,
                                   enableUDPStreaming, udpDestinationIP, udpDestinationPort,
                                   iolProcessDataLayout)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProcessInterfacesMeta, availableRTEthProtocols,
                                   iolProcessDataLayouts)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(UDPMeta, data)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(UDPStreamData, enabledDataIDs)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(LaserPowerMeta, FactorUnit, FactorPrec)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(LaserPowerLimits, minFactor, maxFactor, predefinedFactors)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ExposureTimeLimits, minTime, maxTime)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ExposureTimeMeta, timeUnit)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Trigger, triggerMode, modeOption, triggerTime, encoderSteps)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(TriggerLimits, minTime, maxTime, minSteps, maxSteps)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(TriggerModeEntry, id, name, options)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(TriggerMeta, timeUnit, triggerModes, options)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Resolution, xResolution, zResolution)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ResolutionLimits, xResolution, zResolution)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Resampling, enabled, gridValue)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ResamplingMeta, gridUnit, gridPrec, minGridValue, maxGridValue)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileFilter, movingAverageEnabled, movingAverageLength)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileFilterMeta, movingAverageMinimumLength,
                                   movingAverageMaximumLength)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileAlgorithmMeta, algorithms)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileAlgorithmParams, minPeakHeight, minPeakWidth,
                                   thresholdValue, thresholdTypeID)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileAlgorithmParamsMeta, minPeakHeightUnit, minPeakWidthUnit,
                                   thresholdValueUnit)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(LimitRange, min, max)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ThresholdTypeEntry, typeID, typeName)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileAlgorithmLimits, minPeakHeight, minPeakWidth,
                                   thresholdValue, thresholdType)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileAlgorithmParamsLimits, algorithmID, limits)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(AxesMeta, zAxisDefinitions)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(FoV, limitLeft, limitRight, offset, height)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(FoVDistance, limitLeft, limitRight, near, far)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(FoVLimits, maxXMinus, maxXPlus, minWidth, minHeight, maxHeight,
                                   minDistance, maxDistance)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(FoVMeta, xUnit, zUnit, xPrec, zPrec)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ActiveSetup, active, saved)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(MeasurementMeta, timestampUnits, qualityValues, measrateUnit,
                                   measratePrec)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(MeasurementTypeEntry, toolID, modeName, toolName,
                                   userDefinedName, unit, prec, min, max)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(MeasurementValuesMeta, types)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ProfileMeta, maxLength, xUnit, zUnit)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ImageMeta, sensorHeight, sensorWidth, maxROIPixels)

}  // namespace Varkon::QUILApi

#include "Description.h"

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

namespace {

json Entries(std::initializer_list<std::pair<uint32_t, const char*>> entries) {
    json list = json::array();
    for (const auto& [id, name] : entries) {
        list.push_back({{"id", id}, {"name", name}});
    }
    return list;
}

json AlgorithmLimits(uint32_t id, uint32_t maxWidth, bool dynamicThreshold) {
    json types = json::array({{{"typeID", 0u}, {"typeName", "Fixed"}}});
    if (dynamicThreshold) {
        types.push_back({{"typeID", 1u}, {"typeName", "Dynamic"}});
    }
    return {{"algorithmID", id},
            {"limits",
             {{"minPeakHeight", {0u, 255u}},
              {"minPeakWidth", {1u, maxWidth}},
              {"thresholdValue", {0u, 100u}},
              {"thresholdType", types}}}};
}

}  // namespace

json DeviceDescription(uint32_t pointsPerProfile) {
    json d;
    d["SensorMetaData"] = {
        {"vendorName", "Varkon"},       {"sensorType", "Virtual laser profile sensor"},
        {"serialNumber", "SIM-000001"}, {"aggregateVersion", "1.0.0"},
        {"ifaceCtrlVersion", "1.0.0"},  {"measCtrlVersion", "1.0.0"},
        {"lasCtrlVersion", "1.0.0"}};
    d["TimeserverMeta"] = {{"numServers", 2u}};
    d["ProcessInterfacesMeta"] = {
        {"availableRTEthProtocols", Entries({{0, "None"}, {1, "PROFINET"}, {2, "EtherNet/IP"}})},
        {"iolProcessDataLayouts", Entries({{0, "Standard"}, {1, "Extended"}})}};
    d["UDPMeta"] = {{"data", Entries({{0, "Measurement values"},
                                      {1, "Profile: z, x"},
                                      {2, "Profile: z, brightness"},
                                      {3, "Profile: z, x, brightness"}})}};
    d["LaserPowerMeta"] = {{"FactorUnit", "relative"}, {"FactorPrec", 0.01}};
    d["LaserPowerLimits"] = {
        {"minFactor", 0.05}, {"maxFactor", 1.0}, {"predefinedFactors", {0.25, 0.5, 0.75, 1.0}}};
    d["ExposureTimeLimits"] = {{"minTime", 10u}, {"maxTime", 100000u}};
    d["ExposureTimeMeta"] = {{"timeUnit", "us"}};
    d["TriggerLimits"] = {
        {"minTime", 100u}, {"maxTime", 1000000u}, {"minSteps", 1u}, {"maxSteps", 10000u}};
    d["TriggerMeta"] = {
        {"timeUnit", "us"},
        {"triggerModes",
         json::array({{{"id", 0u}, {"name", "Continuous"}, {"options", {0u}}},
                      {{"id", 1u}, {"name", "Software"}, {"options", {0u}}},
                      {{"id", 2u}, {"name", "Encoder"}, {"options", {1u, 2u}}},
                      {{"id", 3u}, {"name", "External input"}, {"options", {3u, 4u}}}})},
        {"options", Entries({{0, "None"},
                             {1, "Forward"},
                             {2, "Both directions"},
                             {3, "Rising edge"},
                             {4, "Falling edge"}})}};
    d["ResolutionLimits"] = {{"xResolution", {1u, 2u, 4u}}, {"zResolution", {1u, 2u, 4u}}};
    d["ResamplingMeta"] = {
        {"gridUnit", "mm"}, {"gridPrec", 2u}, {"minGridValue", 0.05}, {"maxGridValue", 5.0}};
    d["ProfileFilterMeta"] = {{"movingAverageMinimumLength", 2u},
                              {"movingAverageMaximumLength", 64u}};
    d["ProfileAlgorithmMeta"] = {
        {"algorithms",
         Entries({{0, "Centre of gravity"}, {1, "Maximum intensity"}, {2, "First edge"}})}};
    d["ProfileAlgorithmParamsMeta"] = {
        {"minPeakHeightUnit", "digits"}, {"minPeakWidthUnit", "px"}, {"thresholdValueUnit", "%"}};
    // Keyed by algorithm id as text; read with the request parameter {"algorithmID": id}.
    d["ProfileAlgorithmParamsLimits"] = {{"0", AlgorithmLimits(0, 20, true)},
                                         {"1", AlgorithmLimits(1, 10, false)},
                                         {"2", AlgorithmLimits(2, 20, true)}};
    d["AxesMeta"] = {{"zAxisDefinitions",
                      Entries({{0, "Distance from sensor"}, {1, "Height above far limit"}})}};
    d["FoVLimits"] = {{"maxXMinus", Geometry::maxXMinus},
                      {"maxXPlus", Geometry::maxXPlus},
                      {"minWidth", 10.0},
                      {"minHeight", 20.0},
                      {"maxHeight", 300.0},
                      {"minDistance", Geometry::minDistance},
                      {"maxDistance", Geometry::maxDistance}};
    d["FoVMeta"] = {{"xUnit", "mm"},
                    {"zUnit", "mm"},
                    {"xPrec", Geometry::precision},
                    {"zPrec", Geometry::precision}};
    d["ParameterSetupMeta"] = {{"numStorages", 4u}};
    d["WriteSettingsBlockLimits"] = {{"maxLength", 1024u}};
    d["MeasurementMeta"] = {
        {"timestampUnits", {"s", "us"}},
        {"qualityValues", Entries({{0, "Valid"}, {1, "Partial"}, {2, "No signal"}})},
        {"measrateUnit", "Hz"},
        {"measratePrec", 1u}};
    const auto tool = [](uint32_t id, const char* mode, const char* name, const char* unit,
                         double max) {
        return json{
            {"toolID", id}, {"modeName", mode}, {"toolName", name}, {"userDefinedName", name},
            {"unit", unit}, {"prec", 0.01},     {"min", 0.0},       {"max", max}};
    };
    d["MeasurementValuesMeta"] = {
        {"types", json::array({tool(0, "Height", "Object height", "mm", 300.0),
                               tool(1, "Width", "Object width", "mm", 200.0),
                               tool(2, "Position", "Object centre", "mm", 200.0),
                               tool(3, "Area", "Cross-section area", "mm2", 60000.0)})}};
    d["MeasurementValuesMeta"]["types"][2]["min"] = -Geometry::maxXMinus;
    d["ProfileMeta"] = {{"maxLength", pointsPerProfile}, {"xUnit", "mm"}, {"zUnit", "mm"}};
    d["ImageMeta"] = {{"sensorHeight", Geometry::sensorHeight},
                      {"sensorWidth", pointsPerProfile},
                      {"maxROIPixels", Geometry::sensorHeight * pointsPerProfile}};
    return d;
}

json FactoryDefaults(double profileRate) {
    json s;
    s["Network"] = {{"useDHCP", false},
                    {"staticIP", "192.0.2.20"},
                    {"subnetMask", "255.255.255.0"},
                    {"gateway", "192.0.2.1"},
                    {"macAdress", "02-00-5E-10-00-01"}};
    s["Timeserver"] = {{"useNTP", false}, {"ntpServers", json::array()}};
    s["ProcessInterfaces"] = {{"enableModbus", false},     {"enableOPCUA", false},
                              {"realtimeProtocolID", 0u},  {"enableUDPStreaming", false},
                              {"udpDestinationIP", ""},    {"udpDestinationPort", 0u},
                              {"iolProcessDataLayout", 0u}};
    s["UDPStreamData"] = {{"enabledDataIDs", json::array()}};
    s["LaserPower"] = {{"Factor", 0.8}};
    s["ExposureTime"] = {{"ExposureTime", 500u}};
    s["Trigger"] = {{"triggerMode", 0u},
                    {"modeOption", 0u},
                    {"triggerTime", static_cast<uint32_t>(1e6 / profileRate + 0.5)},
                    {"encoderSteps", 20u}};
    s["Resolution"] = {{"xResolution", 1u}, {"zResolution", 1u}};
    s["Resampling"] = {{"enabled", false}, {"gridValue", 0.5}};
    s["ProfileFilter"] = {{"movingAverageEnabled", false}, {"movingAverageLength", 3u}};
    s["ProfileAlgorithm"] = {{"algorithmID", 0u}};
    const json params = {{"minPeakHeight", 20u},
                         {"minPeakWidth", 2u},
                         {"thresholdValue", 50u},
                         {"thresholdTypeID", 0u}};
    s["ProfileAlgorithmParams"] = {{"0", params}, {"1", params}, {"2", params}};
    s["Axes"] = {{"zAxisDefinitionID", 1u}};
    s["FoVDistance"] = {
        {"limitLeft", -60.0}, {"limitRight", 60.0}, {"near", 250.0}, {"far", 380.0}};
    return s;
}

const std::vector<std::string>& SetupResources() {
    static const std::vector<std::string> names = {
        "LaserPower", "ExposureTime",  "Trigger",          "Resolution",
        "Resampling", "ProfileFilter", "ProfileAlgorithm", "ProfileAlgorithmParams",
        "Axes",       "FoVDistance"};
    return names;
}

const std::vector<std::string>& DeviceResources() {
    static const std::vector<std::string> names = {"Network", "Timeserver", "ProcessInterfaces",
                                                   "UDPStreamData"};
    return names;
}

}  // namespace Varkon::QUILApi::Sim

#include "Description.h"

#include "Settings.h"

#include <quil/Json.h>

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

namespace {

json AlgorithmLimits(uint32_t id, uint32_t maxWidth, bool dynamicThreshold) {
    std::vector<ThresholdTypeEntry> types = {{0, "Fixed"}};
    if (dynamicThreshold) {
        types.push_back({1, "Dynamic"});
    }
    // A range travels as the array [min, max].
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
    // The sensor sends its controllers' versions apart; the library joins them.
    d["SensorMetaData"] = {
        {"vendorName", "Varkon"},       {"sensorType", "Virtual laser profile sensor"},
        {"serialNumber", "SIM-000001"}, {"aggregateVersion", "1.0.0"},
        {"ifaceCtrlVersion", "1.0.0"},  {"measCtrlVersion", "1.0.0"},
        {"lasCtrlVersion", "1.0.0"}};
    d["TimeserverMeta"] = {{"numServers", 2u}};
    d["ProcessInterfacesMeta"] = ProcessInterfacesMeta{
        {{0, "None"}, {1, "PROFINET"}, {2, "EtherNet/IP"}}, {{0, "Standard"}, {1, "Extended"}}};
    d["UDPMeta"] = UDPMeta{{{0, "Measurement values"},
                            {1, "Profile: z, x"},
                            {2, "Profile: z, brightness"},
                            {3, "Profile: z, x, brightness"}}};
    d["LaserPowerMeta"] = LaserPowerMeta{"relative", 0.01};
    d["LaserPowerLimits"] = LaserPowerLimits{0.05, 1.0, {0.25, 0.5, 0.75, 1.0}};
    d["ExposureTimeLimits"] = ExposureTimeLimits{10, 100000};
    d["ExposureTimeMeta"] = ExposureTimeMeta{"us"};
    d["TriggerLimits"] = TriggerLimits{100, 1000000, 1, 10000};
    d["TriggerMeta"] = TriggerMeta{"us",
                                   {{0, "Continuous", {0}},
                                    {1, "Software", {0}},
                                    {2, "Encoder", {1, 2}},
                                    {3, "External input", {3, 4}}},
                                   {{0, "None"},
                                    {1, "Forward"},
                                    {2, "Both directions"},
                                    {3, "Rising edge"},
                                    {4, "Falling edge"}}};
    d["ResolutionLimits"] = ResolutionLimits{{1, 2, 4}, {1, 2, 4}};
    d["ResamplingMeta"] = ResamplingMeta{"mm", 2, 0.05, 5.0};
    d["ProfileFilterMeta"] = ProfileFilterMeta{2, 64};
    d["ProfileAlgorithmMeta"] = ProfileAlgorithmMeta{
        {{0, "Centre of gravity"}, {1, "Maximum intensity"}, {2, "First edge"}}};
    d["ProfileAlgorithmParamsMeta"] = ProfileAlgorithmParamsMeta{"digits", "px", "%"};
    // Keyed by algorithm id as text; read with the request parameter {"algorithmID": id}.
    d["ProfileAlgorithmParamsLimits"] = {{"0", AlgorithmLimits(0, 20, true)},
                                         {"1", AlgorithmLimits(1, 10, false)},
                                         {"2", AlgorithmLimits(2, 20, true)}};
    d["AxesMeta"] = AxesMeta{{{0, "Distance from sensor"}, {1, "Height above far limit"}}};
    d["FoVLimits"] = FoVLimits{Geometry::maxXMinus,   Geometry::maxXPlus,   10.0, 20.0, 300.0,
                               Geometry::minDistance, Geometry::maxDistance};
    d["FoVMeta"] = FoVMeta{"mm", "mm", Geometry::precision, Geometry::precision};
    d["ParameterSetupMeta"] = {{"numStorages", 4u}};
    d["WriteSettingsBlockLimits"] = {{"maxLength", 1024u}};
    d["MeasurementMeta"] =
        MeasurementMeta{{"s", "us"}, {{0, "Valid"}, {1, "Partial"}, {2, "No signal"}}, "Hz", 1};
    const auto tool = [](uint32_t id, const char* mode, const char* name, const char* unit,
                         double min, double max) {
        return MeasurementTypeEntry{id, mode, name, name, unit, 0.01, min, max};
    };
    d["MeasurementValuesMeta"] = MeasurementValuesMeta{
        {tool(0, "Height", "Object height", "mm", 0.0, 300.0),
         tool(1, "Width", "Object width", "mm", 0.0, 200.0),
         tool(2, "Position", "Object centre", "mm", -Geometry::maxXMinus, 200.0),
         tool(3, "Area", "Cross-section area", "mm2", 0.0, 60000.0)}};
    d["ProfileMeta"] = ProfileMeta{pointsPerProfile, "mm", "mm"};
    d["ImageMeta"] = ImageMeta{Geometry::sensorHeight, pointsPerProfile,
                               Geometry::sensorHeight * pointsPerProfile};
    return d;
}

json FactoryDefaults(double profileRate) {
    json s;
    s["Network"] = Network{false, "192.0.2.20", "255.255.255.0", "192.0.2.1", "02-00-5E-10-00-01"};
    s["Timeserver"] = Timeserver{false, {}};
    s["ProcessInterfaces"] = ProcessInterfaces{};
    s["UDPStreamData"] = UDPStreamData{};
    s["LaserPower"] = {{"Factor", 0.8}};
    s["ExposureTime"] = {{"ExposureTime", 500u}};
    s["Trigger"] = Trigger{0, 0, static_cast<uint32_t>(1e6 / profileRate + 0.5), 20};
    s["Resolution"] = Resolution{1, 1};
    s["Resampling"] = Resampling{false, 0.5};
    s["ProfileFilter"] = ProfileFilter{false, 3};
    s["ProfileAlgorithm"] = {{"algorithmID", 0u}};
    const json params = ProfileAlgorithmParams{20, 2, 50, 0};
    s["ProfileAlgorithmParams"] = {{"0", params}, {"1", params}, {"2", params}};
    s["Axes"] = {{"zAxisDefinitionID", 1u}};
    s["FoVDistance"] = FoVDistance{-60.0, 60.0, 250.0, 380.0};
    return s;
}

const std::vector<std::string>& SetupResources() {
    static const std::vector<std::string> names = Catalogue::ResourcesIn(Catalogue::Scope::Setup);
    return names;
}

const std::vector<std::string>& DeviceResources() {
    static const std::vector<std::string> names = Catalogue::ResourcesIn(Catalogue::Scope::Device);
    return names;
}

}  // namespace Varkon::QUILApi::Sim

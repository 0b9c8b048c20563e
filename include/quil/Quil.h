// The quil client library: one header for applications.
//
// An application creates a client with Quil::Create(host, udpPort), connects, optionally takes a
// role, and then reads and writes the sensor's resources through the operations of Quil. Every
// operation blocks the calling thread until the sensor answers or a time limit passes. Failures
// are reported as standard exceptions with fixed English texts.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(_WIN32)
#if defined(QUIL_BUILDING_LIBRARY)
#define QUIL_API __declspec(dllexport)
#else
#define QUIL_API __declspec(dllimport)
#endif
#else
#define QUIL_API __attribute__((visibility("default")))
#endif

namespace Varkon::QUILApi {

// ---------------------------------------------------------------------------------------------
// Records describe themselves. Each lists its fields once, in `kFields`: for each field its key
// (the sensor's JSON key, which is also the member's name) and the member, in the order the
// record declares them. Comparison, the library's reading and writing, the tool's JSON and the
// virtual sensor's checks all follow that one list.
// ---------------------------------------------------------------------------------------------

/// One field of a record. A read-only field is read from the sensor but never sent to it.
template <class Record, class T>
struct RecordField {
    using Type = T;     ///< the member's type
    const char* key;    ///< the sensor's JSON key, also the member's name
    T Record::*member;  ///< the member
    bool readOnly;      ///< read from the sensor, never written to it
};

/// A field that is read and written.
template <class Record, class T>
constexpr RecordField<Record, T> Key(const char* key, T Record::*member) {
    return {key, member, false};
}
/// A field that is read but never written (see RecordField::readOnly).
template <class Record, class T>
constexpr RecordField<Record, T> ReadOnlyKey(const char* key, T Record::*member) {
    return {key, member, true};
}

/// Whether T is a record: a type that lists its fields in `kFields`.
template <class T, class = void>
struct IsRecord : std::false_type {};
template <class T>
struct IsRecord<T, std::void_t<decltype(T::kFields)>> : std::true_type {};

/// Whether T is a list of records.
template <class T>
struct IsRecordList : std::false_type {};
template <class Element>
struct IsRecordList<std::vector<Element>> : IsRecord<Element> {};

/// Calls `visit(field)` with each RecordField of `Record`, in order.
template <class Record, class Visit>
constexpr void VisitFields(Visit&& visit) {
    std::apply([&visit](const auto&... field) { (visit(field), ...); }, Record::kFields);
}

/// Records compare equal when all their fields do.
template <class Record, std::enable_if_t<IsRecord<Record>::value, int> = 0>
bool operator==(const Record& a, const Record& b) {
    return std::apply(
        [&](const auto&... field) { return ((a.*field.member == b.*field.member) && ...); },
        Record::kFields);
}
template <class Record, std::enable_if_t<IsRecord<Record>::value, int> = 0>
bool operator!=(const Record& a, const Record& b) {
    return !(a == b);
}

// ---------------------------------------------------------------------------------------------
// Result records. Field names are the sensor's JSON keys, letter for letter.
// ---------------------------------------------------------------------------------------------

/// One entry of a list of choices that the sensor offers.
struct IdNameEntry {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t id{};
    std::string name;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("id", &IdNameEntry::id), Key("name", &IdNameEntry::name));
};

/// Identity of the sensor ("SensorMetaData").
struct SensorMetaData {
    /// Named after the sensor's JSON keys.
    /// @{
    std::string sensorType;
    std::string serialNumber;
    std::string vendorName;
    std::string aggregateVersion;    ///< "-" when the sensor has none
    std::string controllerVersions;  ///< "I:<iface>,M:<meas>,L:<laser>", "-" for a missing one
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("sensorType", &SensorMetaData::sensorType),
                        Key("serialNumber", &SensorMetaData::serialNumber),
                        Key("vendorName", &SensorMetaData::vendorName),
                        Key("aggregateVersion", &SensorMetaData::aggregateVersion),
                        Key("controllerVersions", &SensorMetaData::controllerVersions));
};

// --- Network and time server -------------------------------------------------------------------

/// The sensor's network settings ("Network").
struct Network {
    bool useDHCP{};          ///< the sensor takes its address by DHCP
    std::string staticIP;    ///< as text
    std::string subnetMask;  ///< as text
    std::string gateway;     ///< as text
    std::string macAdress;   ///< the sensor's spelling; read only, never sent

    static constexpr auto kFields =
        std::make_tuple(Key("useDHCP", &Network::useDHCP), Key("staticIP", &Network::staticIP),
                        Key("subnetMask", &Network::subnetMask), Key("gateway", &Network::gateway),
                        ReadOnlyKey("macAdress", &Network::macAdress));
};

/// The sensor's time server settings ("Timeserver").
struct Timeserver {
    /// Named after the sensor's JSON keys.
    /// @{
    bool useNTP{};
    std::vector<std::string> ntpServers;  ///< in the sensor's order
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("useNTP", &Timeserver::useNTP),
                                                    Key("ntpServers", &Timeserver::ntpServers));
};

// --- Process interfaces and UDP output --------------------------------------------------------

/// The process interfaces and the UDP data output ("ProcessInterfaces"). Absent keys read as
/// the defaults below.
struct ProcessInterfaces {
    /// Named after the sensor's JSON keys.
    /// @{
    bool enableModbus{};
    bool enableOPCUA{};
    uint32_t realtimeProtocolID{};
    bool enableUDPStreaming{};     ///< the UDP output is on
    std::string udpDestinationIP;  ///< where the UDP output goes
    uint32_t udpDestinationPort{};
    uint32_t iolProcessDataLayout{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("enableModbus", &ProcessInterfaces::enableModbus),
                        Key("enableOPCUA", &ProcessInterfaces::enableOPCUA),
                        Key("realtimeProtocolID", &ProcessInterfaces::realtimeProtocolID),
                        Key("enableUDPStreaming", &ProcessInterfaces::enableUDPStreaming),
                        Key("udpDestinationIP", &ProcessInterfaces::udpDestinationIP),
                        Key("udpDestinationPort", &ProcessInterfaces::udpDestinationPort),
                        Key("iolProcessDataLayout", &ProcessInterfaces::iolProcessDataLayout));
};

/// Choices for the process interfaces ("ProcessInterfacesMeta").
struct ProcessInterfacesMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<IdNameEntry> availableRTEthProtocols;
    std::vector<IdNameEntry> iolProcessDataLayouts;  ///< may be absent
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("availableRTEthProtocols", &ProcessInterfacesMeta::availableRTEthProtocols),
        Key("iolProcessDataLayouts", &ProcessInterfacesMeta::iolProcessDataLayouts));
};

/// The kinds of data the UDP output can carry ("UDPMeta").
struct UDPMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<IdNameEntry> data;
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("data", &UDPMeta::data));
};

/// The data ids the UDP output carries ("UDPStreamData").
struct UDPStreamData {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<uint32_t> enabledDataIDs;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("enabledDataIDs", &UDPStreamData::enabledDataIDs));
};

// --- Laser power and exposure time ------------------------------------------------------------

/// Unit and precision of the laser power factor ("LaserPowerMeta").
struct LaserPowerMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::string FactorUnit;
    double FactorPrec{};
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("FactorUnit", &LaserPowerMeta::FactorUnit),
                                                    Key("FactorPrec", &LaserPowerMeta::FactorPrec));
};

/// Permitted laser power factors ("LaserPowerLimits").
struct LaserPowerLimits {
    /// Named after the sensor's JSON keys.
    /// @{
    double minFactor{};
    double maxFactor{};
    std::vector<double> predefinedFactors;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("minFactor", &LaserPowerLimits::minFactor),
                        Key("maxFactor", &LaserPowerLimits::maxFactor),
                        Key("predefinedFactors", &LaserPowerLimits::predefinedFactors));
};

/// Permitted exposure times ("ExposureTimeLimits").
struct ExposureTimeLimits {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t minTime{};
    uint32_t maxTime{};
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("minTime", &ExposureTimeLimits::minTime),
                                                    Key("maxTime", &ExposureTimeLimits::maxTime));
};

/// Unit of the exposure time ("ExposureTimeMeta").
struct ExposureTimeMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::string timeUnit;
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("timeUnit", &ExposureTimeMeta::timeUnit));
};

// --- Trigger ----------------------------------------------------------------------------------

/// How the sensor is triggered ("Trigger").
struct Trigger {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t triggerMode{};
    uint32_t modeOption{};
    uint32_t triggerTime{};
    uint32_t encoderSteps{};  ///< 0 when absent
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("triggerMode", &Trigger::triggerMode), Key("modeOption", &Trigger::modeOption),
        Key("triggerTime", &Trigger::triggerTime), Key("encoderSteps", &Trigger::encoderSteps));
};

/// Permitted trigger values ("TriggerLimits").
struct TriggerLimits {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t minTime{};
    uint32_t maxTime{};
    uint32_t minSteps{};  ///< 0 when absent
    uint32_t maxSteps{};  ///< 0 when absent
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("minTime", &TriggerLimits::minTime), Key("maxTime", &TriggerLimits::maxTime),
        Key("minSteps", &TriggerLimits::minSteps), Key("maxSteps", &TriggerLimits::maxSteps));
};

/// One selectable trigger mode.
struct TriggerModeEntry {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t id{};
    std::string name;
    std::vector<uint32_t> options;  ///< the option ids listed for this mode
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("id", &TriggerModeEntry::id), Key("name", &TriggerModeEntry::name),
                        Key("options", &TriggerModeEntry::options));
};

/// Description of the trigger settings ("TriggerMeta").
struct TriggerMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::string timeUnit;
    std::vector<TriggerModeEntry> triggerModes;
    std::vector<IdNameEntry> options;
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("timeUnit", &TriggerMeta::timeUnit),
                                                    Key("triggerModes", &TriggerMeta::triggerModes),
                                                    Key("options", &TriggerMeta::options));
};

// --- Resolution, resampling and profile filter -------------------------------------------------

/// Resolution along x and z ("Resolution").
struct Resolution {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t xResolution{};
    uint32_t zResolution{};
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("xResolution", &Resolution::xResolution),
                                                    Key("zResolution", &Resolution::zResolution));
};

/// The resolutions the sensor offers ("ResolutionLimits").
struct ResolutionLimits {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<uint32_t> xResolution;
    std::vector<uint32_t> zResolution;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("xResolution", &ResolutionLimits::xResolution),
                        Key("zResolution", &ResolutionLimits::zResolution));
};

/// Resampling of profiles onto a grid ("Resampling").
struct Resampling {
    /// Named after the sensor's JSON keys.
    /// @{
    bool enabled{};
    double gridValue{};
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("enabled", &Resampling::enabled),
                                                    Key("gridValue", &Resampling::gridValue));
};

/// Unit, precision and range of the grid ("ResamplingMeta").
struct ResamplingMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::string gridUnit;
    uint32_t gridPrec{};
    double minGridValue{};
    double maxGridValue{};
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("gridUnit", &ResamplingMeta::gridUnit), Key("gridPrec", &ResamplingMeta::gridPrec),
        Key("minGridValue", &ResamplingMeta::minGridValue),
        Key("maxGridValue", &ResamplingMeta::maxGridValue));
};

/// The moving-average profile filter ("ProfileFilter").
struct ProfileFilter {
    /// Named after the sensor's JSON keys.
    /// @{
    bool movingAverageEnabled{};
    uint32_t movingAverageLength{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("movingAverageEnabled", &ProfileFilter::movingAverageEnabled),
                        Key("movingAverageLength", &ProfileFilter::movingAverageLength));
};

/// Permitted filter lengths ("ProfileFilterMeta").
struct ProfileFilterMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t movingAverageMinimumLength{};
    uint32_t movingAverageMaximumLength{};
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("movingAverageMinimumLength", &ProfileFilterMeta::movingAverageMinimumLength),
        Key("movingAverageMaximumLength", &ProfileFilterMeta::movingAverageMaximumLength));
};

// --- Profile algorithm ------------------------------------------------------------------------

/// The profile algorithms the sensor offers ("ProfileAlgorithmMeta").
struct ProfileAlgorithmMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<IdNameEntry> algorithms;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("algorithms", &ProfileAlgorithmMeta::algorithms));
};

/// Parameters of one profile algorithm ("params" of "ProfileAlgorithmParams").
struct ProfileAlgorithmParams {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t minPeakHeight{};
    uint32_t minPeakWidth{};
    uint32_t thresholdValue{};
    uint32_t thresholdTypeID{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("minPeakHeight", &ProfileAlgorithmParams::minPeakHeight),
                        Key("minPeakWidth", &ProfileAlgorithmParams::minPeakWidth),
                        Key("thresholdValue", &ProfileAlgorithmParams::thresholdValue),
                        Key("thresholdTypeID", &ProfileAlgorithmParams::thresholdTypeID));
};

/// Units of the algorithm parameters ("ProfileAlgorithmParamsMeta").
struct ProfileAlgorithmParamsMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::string minPeakHeightUnit;
    std::string minPeakWidthUnit;
    std::string thresholdValueUnit;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("minPeakHeightUnit", &ProfileAlgorithmParamsMeta::minPeakHeightUnit),
                        Key("minPeakWidthUnit", &ProfileAlgorithmParamsMeta::minPeakWidthUnit),
                        Key("thresholdValueUnit", &ProfileAlgorithmParamsMeta::thresholdValueUnit));
};

/// A permitted range, from a JSON array [min, max].
struct LimitRange {
    uint32_t min{};  ///< the array's first element
    uint32_t max{};  ///< the array's second element

    static constexpr auto kFields =
        std::make_tuple(Key("min", &LimitRange::min), Key("max", &LimitRange::max));
};

/// One threshold type an algorithm offers.
struct ThresholdTypeEntry {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t typeID{};
    std::string typeName;
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("typeID", &ThresholdTypeEntry::typeID),
                                                    Key("typeName", &ThresholdTypeEntry::typeName));
};

/// Limits of the parameters of one algorithm ("limits").
struct ProfileAlgorithmLimits {
    /// Named after the sensor's JSON keys.
    /// @{
    LimitRange minPeakHeight;
    LimitRange minPeakWidth;
    LimitRange thresholdValue;
    std::vector<ThresholdTypeEntry> thresholdType;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("minPeakHeight", &ProfileAlgorithmLimits::minPeakHeight),
                        Key("minPeakWidth", &ProfileAlgorithmLimits::minPeakWidth),
                        Key("thresholdValue", &ProfileAlgorithmLimits::thresholdValue),
                        Key("thresholdType", &ProfileAlgorithmLimits::thresholdType));
};

/// Limits of one algorithm's parameters ("ProfileAlgorithmParamsLimits").
struct ProfileAlgorithmParamsLimits {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t algorithmID{};  ///< as the sensor states it
    ProfileAlgorithmLimits limits;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("algorithmID", &ProfileAlgorithmParamsLimits::algorithmID),
                        Key("limits", &ProfileAlgorithmParamsLimits::limits));
};

// --- Axes and field of view -------------------------------------------------------------------

/// The z-axis definitions the sensor offers ("AxesMeta").
struct AxesMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<IdNameEntry> zAxisDefinitions;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("zAxisDefinitions", &AxesMeta::zAxisDefinitions));
};

/// The field of view by offset and height ("FoV").
struct FoV {
    /// Named after the sensor's JSON keys.
    /// @{
    double limitLeft{};
    double limitRight{};
    double offset{};
    double height{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("limitLeft", &FoV::limitLeft), Key("limitRight", &FoV::limitRight),
                        Key("offset", &FoV::offset), Key("height", &FoV::height));
};

/// The field of view by near and far distance ("FoVDistance").
struct FoVDistance {
    /// Named after the sensor's JSON keys.
    /// @{
    double limitLeft{};
    double limitRight{};
    double near{};
    double far{};
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("limitLeft", &FoVDistance::limitLeft), Key("limitRight", &FoVDistance::limitRight),
        Key("near", &FoVDistance::near), Key("far", &FoVDistance::far));
};

/// Limits of the field of view ("FoVLimits").
struct FoVLimits {
    /// Named after the sensor's JSON keys.
    /// @{
    double maxXMinus{};
    double maxXPlus{};
    double minWidth{};
    double minHeight{};
    double maxHeight{};
    double minDistance{};
    double maxDistance{};
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("maxXMinus", &FoVLimits::maxXMinus), Key("maxXPlus", &FoVLimits::maxXPlus),
        Key("minWidth", &FoVLimits::minWidth), Key("minHeight", &FoVLimits::minHeight),
        Key("maxHeight", &FoVLimits::maxHeight), Key("minDistance", &FoVLimits::minDistance),
        Key("maxDistance", &FoVLimits::maxDistance));
};

/// Units and precisions of the field of view ("FoVMeta").
struct FoVMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::string xUnit;
    std::string zUnit;
    uint32_t xPrec{};
    uint32_t zPrec{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("xUnit", &FoVMeta::xUnit), Key("zUnit", &FoVMeta::zUnit),
                        Key("xPrec", &FoVMeta::xPrec), Key("zPrec", &FoVMeta::zPrec));
};

// --- Parameter setups -------------------------------------------------------------------------

/// The active parameter setup ("ActiveSetup").
struct ActiveSetup {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t active{};  ///< number of the active setup
    bool saved{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("active", &ActiveSetup::active), Key("saved", &ActiveSetup::saved));
};

// --- Measurement values -----------------------------------------------------------------------

/// The latest measurement result ("MeasurementValues").
struct MeasurementValues {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t qualityID{};
    bool configmode{};
    bool valuesAreValid{};
    bool alarm{};
    std::vector<bool> digitalOuts;
    uint32_t EncoderValue{};
    double measrate{};
    uint64_t timestamp{};        ///< seconds * 1000000 + microseconds
    std::vector<double> values;  ///< "INF" and "-INF" are infinities, other text NaN
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("qualityID", &MeasurementValues::qualityID),
        Key("configmode", &MeasurementValues::configmode),
        Key("valuesAreValid", &MeasurementValues::valuesAreValid),
        Key("alarm", &MeasurementValues::alarm),
        Key("digitalOuts", &MeasurementValues::digitalOuts),
        Key("EncoderValue", &MeasurementValues::EncoderValue),
        Key("measrate", &MeasurementValues::measrate),
        Key("timestamp", &MeasurementValues::timestamp), Key("values", &MeasurementValues::values));
};

/// Units and quality names of the measurement values ("MeasurementMeta").
struct MeasurementMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<std::string> timestampUnits;
    std::vector<IdNameEntry> qualityValues;
    std::string measrateUnit;
    uint32_t measratePrec{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("timestampUnits", &MeasurementMeta::timestampUnits),
                        Key("qualityValues", &MeasurementMeta::qualityValues),
                        Key("measrateUnit", &MeasurementMeta::measrateUnit),
                        Key("measratePrec", &MeasurementMeta::measratePrec));
};

/// One configured measurement tool output.
struct MeasurementTypeEntry {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t toolID{};
    std::string modeName;
    std::string toolName;
    std::string userDefinedName;
    std::string unit;
    double prec{};
    double min{};
    double max{};
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("toolID", &MeasurementTypeEntry::toolID),
        Key("modeName", &MeasurementTypeEntry::modeName),
        Key("toolName", &MeasurementTypeEntry::toolName),
        Key("userDefinedName", &MeasurementTypeEntry::userDefinedName),
        Key("unit", &MeasurementTypeEntry::unit), Key("prec", &MeasurementTypeEntry::prec),
        Key("min", &MeasurementTypeEntry::min), Key("max", &MeasurementTypeEntry::max));
};

/// The configured measurement tools ("MeasurementValuesMeta").
struct MeasurementValuesMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    std::vector<MeasurementTypeEntry> types;
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("types", &MeasurementValuesMeta::types));
};

// --- Profiles and images ----------------------------------------------------------------------

/// The latest height profile ("Profile"). "points" alternate x and z.
struct Profile {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t qualityID{};
    uint64_t timestamp{};  ///< seconds * 1000000 + microseconds
    uint32_t prec{};
    int32_t xStart{};
    uint32_t length{};             ///< as sent
    std::vector<int32_t> xValues;  ///< elements 0, 2, 4, ... of "points"
    std::vector<int32_t> zValues;  ///< elements 1, 3, 5, ... of "points"
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("qualityID", &Profile::qualityID),
                        Key("timestamp", &Profile::timestamp), Key("prec", &Profile::prec),
                        Key("xStart", &Profile::xStart), Key("length", &Profile::length),
                        Key("xValues", &Profile::xValues), Key("zValues", &Profile::zValues));
};

/// The latest profile with brightness values ("AugmentedProfile").
struct AugmentedProfile {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t qualityID{};
    uint64_t timestamp{};  ///< seconds * 1000000 + microseconds
    uint32_t prec{};
    int32_t xStart{};
    uint32_t length{};             ///< as sent
    std::vector<int32_t> xValues;  ///< elements 0, 2, 4, ... of "points"
    std::vector<int32_t> zValues;  ///< elements 1, 3, 5, ... of "points"
    std::vector<int32_t> brightness;
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("qualityID", &AugmentedProfile::qualityID),
        Key("timestamp", &AugmentedProfile::timestamp), Key("prec", &AugmentedProfile::prec),
        Key("xStart", &AugmentedProfile::xStart), Key("length", &AugmentedProfile::length),
        Key("xValues", &AugmentedProfile::xValues), Key("zValues", &AugmentedProfile::zValues),
        Key("brightness", &AugmentedProfile::brightness));
};

/// Length limit and units of profiles ("ProfileMeta").
struct ProfileMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t maxLength{};
    std::string xUnit;
    std::string zUnit;
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("maxLength", &ProfileMeta::maxLength),
                        Key("xUnit", &ProfileMeta::xUnit), Key("zUnit", &ProfileMeta::zUnit));
};

/// A camera image ("Image"): one byte per pixel, row by row.
struct Image {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t roiHeight{};
    uint32_t roiWidth{};
    uint32_t rowOffset{};
    uint32_t columnOffset{};
    uint32_t rowBinning{};
    uint32_t colBinning{};
    std::vector<uint8_t> pixels;  ///< decoded from Base64
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("roiHeight", &Image::roiHeight), Key("roiWidth", &Image::roiWidth),
        Key("rowOffset", &Image::rowOffset), Key("columnOffset", &Image::columnOffset),
        Key("rowBinning", &Image::rowBinning), Key("colBinning", &Image::colBinning),
        Key("pixels", &Image::pixels));
};

/// Size of the camera sensor ("ImageMeta").
struct ImageMeta {
    /// Named after the sensor's JSON keys.
    /// @{
    uint32_t sensorHeight{};
    uint32_t sensorWidth{};
    uint32_t maxROIPixels{};
    /// @}

    static constexpr auto kFields = std::make_tuple(Key("sensorHeight", &ImageMeta::sensorHeight),
                                                    Key("sensorWidth", &ImageMeta::sensorWidth),
                                                    Key("maxROIPixels", &ImageMeta::maxROIPixels));
};

// ---------------------------------------------------------------------------------------------
// UDP measurement stream
// ---------------------------------------------------------------------------------------------

namespace UdpStreaming {

// Lets argument-dependent lookup find the records' comparison from this namespace too.
using ::Varkon::QUILApi::operator==;
using ::Varkon::QUILApi::operator!=;

/// Kind of a problem of the stream, the type of each entry of the error queue.
enum PacketErrorType : uint32_t {
    PacketsLost = 0,             ///< a block id jumped ahead: blocks in between were lost
    UnexpectedBlockId = 1,       ///< a block id below the last one arrived, or ids started again
    DuplicateBlockId = 2,        ///< the last block id arrived again
    FragmentTimeout = 3,         ///< a fragmented block was not completed in time
    InvalidPacket = 4,           ///< a datagram too short for the packet header
    EmptyContent = 5,            ///< a block without payload
    StreamingTaskException = 7,  ///< a block that could not be decoded, or a failed worker
};

/// What a full queue does with a new entry. Any value other than DropOldest acts as DropNew.
enum QueueOverflowPolicy : uint32_t {
    DropOldest = 0,  ///< the oldest entry makes room
    DropNew = 1,     ///< the new entry is discarded
};

/// Measurement values of one block (data id 0).
struct StreamMeasurement {
    uint32_t blockId{};              ///< block id of the packet header
    uint32_t qualityID{};            ///< quality id, as sent
    std::array<bool, 6> flags{};     ///< flags 1 to 6, as sent
    uint32_t EncoderValue{};         ///< encoder value
    double measrate{};               ///< measuring rate
    uint64_t timestamp{};            ///< time of the measurement in microseconds
    std::array<double, 7> values{};  ///< measurement values 0 to 6

    static constexpr auto kFields = std::make_tuple(
        Key("blockId", &StreamMeasurement::blockId),
        Key("qualityID", &StreamMeasurement::qualityID), Key("flags", &StreamMeasurement::flags),
        Key("EncoderValue", &StreamMeasurement::EncoderValue),
        Key("measrate", &StreamMeasurement::measrate),
        Key("timestamp", &StreamMeasurement::timestamp), Key("values", &StreamMeasurement::values));
};

/// One profile (data ids 1 to 3). Channels hold pointCount values each, or none when absent;
/// points that the block did not carry read 0.
///
/// Channel values are passed on exactly as the sensor sends them, as raw 16-bit words: the
/// library applies no scale, offset or unit. Their meaning comes from the sensor's descriptions:
/// "ProfileMeta" (GetProfileMeta) and the axis definitions ("AxesMeta", "Axes") say which
/// quantity each channel carries, in which unit and with which resolution, and "FoV" gives the
/// range. Channel 0 is the profile's height (z), channel 1 its lateral position (x), channel 2
/// the brightness of the laser line. ProfileCoordinates (quil/ProfileCoordinates.h) converts
/// them to millimetres. The virtual sensor's encoding is described in the README.
struct StreamProfile {
    uint32_t blockId{};              ///< block id of the packet header
    std::array<bool, 4> flags{};     ///< flags 1 to 4, as sent
    uint8_t qualityID{};             ///< quality id, as sent
    uint32_t field6{};               ///< header value at payload offset 6, as sent
    uint64_t timestamp{};            ///< time of the profile in microseconds
    uint16_t field18{};              ///< header value at payload offset 18, as sent
    uint32_t pointCount{};           ///< number of points
    std::vector<uint16_t> channel0;  ///< channel 0 of every point
    std::vector<uint16_t> channel1;  ///< channel 1 of every point, when hasChannel1
    std::vector<uint16_t> channel2;  ///< channel 2 of every point, when hasChannel2
    bool hasChannel1{};              ///< data id 1 or 3
    bool hasChannel2{};              ///< data id 2 or 3

    static constexpr auto kFields = std::make_tuple(
        Key("blockId", &StreamProfile::blockId), Key("flags", &StreamProfile::flags),
        Key("qualityID", &StreamProfile::qualityID), Key("field6", &StreamProfile::field6),
        Key("timestamp", &StreamProfile::timestamp), Key("field18", &StreamProfile::field18),
        Key("pointCount", &StreamProfile::pointCount), Key("channel0", &StreamProfile::channel0),
        Key("channel1", &StreamProfile::channel1), Key("channel2", &StreamProfile::channel2),
        Key("hasChannel1", &StreamProfile::hasChannel1),
        Key("hasChannel2", &StreamProfile::hasChannel2));

    /// The index of the acquisition the profile belongs to (field6), as sent.
    uint32_t AcquisitionIndex() const { return field6; }
    /// The encoder count at the time of the profile (field18), as sent.
    uint16_t EncoderCount() const { return field18; }
};

/// One problem of the stream.
struct StreamError {
    uint32_t blockId{};      ///< the block concerned, 0 where none
    PacketErrorType type{};  ///< kind of problem
    std::string message;     ///< description in English

    static constexpr auto kFields =
        std::make_tuple(Key("blockId", &StreamError::blockId), Key("type", &StreamError::type),
                        Key("message", &StreamError::message));
};

/// Counters of a stream since it was created or since ResetStatistics. The worker updates them
/// without a lock; a reader sees each counter whole and never smaller than before (between
/// resets), though two counters read together may be one datagram apart.
struct StreamStatistics {
    uint64_t datagramsReceived{};     ///< datagrams taken from the socket while started
    uint64_t bytesReceived{};         ///< their bytes, as long as they arrived
    uint64_t datagramsTooShort{};     ///< rejected: shorter than the packet header
    uint64_t datagramsUnknownKind{};  ///< rejected: a packet kind other than 0, 1 and 2
    uint64_t datagramsTooLong{};      ///< rejected: longer than the largest datagram, cut off
    uint64_t measurementBlocks{};     ///< blocks of data id 0 delivered
    uint64_t profileBlocks1{};        ///< blocks of data id 1 delivered
    uint64_t profileBlocks2{};        ///< blocks of data id 2 delivered
    uint64_t profileBlocks3{};        ///< blocks of data id 3 delivered
    uint64_t blocksUnknownDataId{};   ///< blocks of another data id, ignored
    uint64_t blocksEmpty{};           ///< blocks without payload
    uint64_t blocksLost{};        ///< the sum of the gaps between consecutive ids of valid blocks
    uint64_t blocksDuplicated{};  ///< a block id that arrived again right after itself
    uint64_t blocksOutOfOrder{};  ///< a block id below the last one
    uint64_t fragmentedBlocksTimedOut{};  ///< fragmented blocks not completed in time, or evicted
    uint64_t decodeFailures{};            ///< blocks that could not be decoded
    uint64_t errorsDropped{};             ///< error entries discarded by the overflow rule
    uint64_t measurementsDropped{};       ///< measurements discarded by the overflow rule
    uint64_t profilesDropped{};           ///< profiles discarded by the overflow rule
    uint64_t kernelDrops{};  ///< datagrams the system discarded because the receive buffer was full
    /// The receive buffer size last asked for (bytes): kDefaultReceiveBuffer when the stream is
    /// created, or what SetReceiveBufferSize asked for since. Not reset.
    int receiveBufferRequested{};
    /// The size the system granted, in the units of the request (Linux reports twice the
    /// requested size, for its bookkeeping; this is half of that). Not reset.
    int receiveBufferGranted{};
    /// Datagrams from a sender other than the one QuilStream::AcceptOnlyFrom names, dropped
    /// unseen: neither counted as received nor recorded.
    uint64_t datagramsOtherSender{};
    /// Valid blocks whose id was too far from the last one to follow it (more than 65536 ahead
    /// or behind): the ids started again, as after a sensor's restart, and the block starts a
    /// new sequence; neither lost nor out of order.
    uint64_t blockIdRestarts{};

    /// The receive buffer size a new stream asks for: 8 MiB.
    static constexpr int kDefaultReceiveBuffer = 8 << 20;

    static constexpr auto kFields = std::make_tuple(
        Key("datagramsReceived", &StreamStatistics::datagramsReceived),
        Key("bytesReceived", &StreamStatistics::bytesReceived),
        Key("datagramsTooShort", &StreamStatistics::datagramsTooShort),
        Key("datagramsUnknownKind", &StreamStatistics::datagramsUnknownKind),
        Key("datagramsTooLong", &StreamStatistics::datagramsTooLong),
        Key("measurementBlocks", &StreamStatistics::measurementBlocks),
        Key("profileBlocks1", &StreamStatistics::profileBlocks1),
        Key("profileBlocks2", &StreamStatistics::profileBlocks2),
        Key("profileBlocks3", &StreamStatistics::profileBlocks3),
        Key("blocksUnknownDataId", &StreamStatistics::blocksUnknownDataId),
        Key("blocksEmpty", &StreamStatistics::blocksEmpty),
        Key("blocksLost", &StreamStatistics::blocksLost),
        Key("blocksDuplicated", &StreamStatistics::blocksDuplicated),
        Key("blocksOutOfOrder", &StreamStatistics::blocksOutOfOrder),
        Key("fragmentedBlocksTimedOut", &StreamStatistics::fragmentedBlocksTimedOut),
        Key("decodeFailures", &StreamStatistics::decodeFailures),
        Key("errorsDropped", &StreamStatistics::errorsDropped),
        Key("measurementsDropped", &StreamStatistics::measurementsDropped),
        Key("profilesDropped", &StreamStatistics::profilesDropped),
        Key("kernelDrops", &StreamStatistics::kernelDrops),
        Key("receiveBufferRequested", &StreamStatistics::receiveBufferRequested),
        Key("receiveBufferGranted", &StreamStatistics::receiveBufferGranted),
        Key("datagramsOtherSender", &StreamStatistics::datagramsOtherSender),
        Key("blockIdRestarts", &StreamStatistics::blockIdRestarts));

    /// The counters in declaration order, with their names; GetStatistics and ResetStatistics
    /// work through this one list.
    static constexpr std::array<std::pair<const char*, uint64_t StreamStatistics::*>, 22> kCounters{
        {
            {"datagramsReceived", &StreamStatistics::datagramsReceived},
            {"bytesReceived", &StreamStatistics::bytesReceived},
            {"datagramsTooShort", &StreamStatistics::datagramsTooShort},
            {"datagramsUnknownKind", &StreamStatistics::datagramsUnknownKind},
            {"datagramsTooLong", &StreamStatistics::datagramsTooLong},
            {"measurementBlocks", &StreamStatistics::measurementBlocks},
            {"profileBlocks1", &StreamStatistics::profileBlocks1},
            {"profileBlocks2", &StreamStatistics::profileBlocks2},
            {"profileBlocks3", &StreamStatistics::profileBlocks3},
            {"blocksUnknownDataId", &StreamStatistics::blocksUnknownDataId},
            {"blocksEmpty", &StreamStatistics::blocksEmpty},
            {"blocksLost", &StreamStatistics::blocksLost},
            {"blocksDuplicated", &StreamStatistics::blocksDuplicated},
            {"blocksOutOfOrder", &StreamStatistics::blocksOutOfOrder},
            {"fragmentedBlocksTimedOut", &StreamStatistics::fragmentedBlocksTimedOut},
            {"decodeFailures", &StreamStatistics::decodeFailures},
            {"errorsDropped", &StreamStatistics::errorsDropped},
            {"measurementsDropped", &StreamStatistics::measurementsDropped},
            {"profilesDropped", &StreamStatistics::profilesDropped},
            {"kernelDrops", &StreamStatistics::kernelDrops},
            {"datagramsOtherSender", &StreamStatistics::datagramsOtherSender},
            {"blockIdRestarts", &StreamStatistics::blockIdRestarts},
        }};

    /// Blocks delivered, of every data id.
    uint64_t BlocksDelivered() const {
        return measurementBlocks + profileBlocks1 + profileBlocks2 + profileBlocks3;
    }
    /// Whether the system granted less receive buffer than was asked for; raise the limit with
    /// `sysctl -w net.core.rmem_max=<bytes>` (as root).
    bool ReceiveBufferCapped() const { return receiveBufferGranted < receiveBufferRequested; }
};

/// A profile with the time it arrived on this host (QuilStream::PopTimedProfileFor).
struct TimedProfile {
    /// Named after the sensor's JSON keys.
    /// @{
    StreamProfile profile;  ///< the profile
    /// When the datagram that completed the profile arrived: the system's receive time stamp,
    /// in microseconds since 1970 (system clock); in a replay, the capture's time stamp. 0 when
    /// arrival times were off (QuilStream::SetArrivalTimes).
    int64_t arrivalMicroseconds{};
    /// @}

    static constexpr auto kFields =
        std::make_tuple(Key("profile", &TimedProfile::profile),
                        Key("arrivalMicroseconds", &TimedProfile::arrivalMicroseconds));
};

/// How a stream records its datagrams (QuilStream::StartRecording).
struct RecordingOptions {
    /// Where the description file goes; empty: beside the capture, with the capture's extension
    /// replaced by ".json" ("line.pcap" gives "line.json").
    std::string descriptionPath;
    /// A JSON object that the description file carries as "sensor": the sensor's identity,
    /// settings and descriptions, as DescribeSensorForRecording gives them. Empty: none.
    std::string sensorDescription;
    /// Datagrams the hand-off from the stream's worker to the writer holds (about 2 KiB each),
    /// at most 65536 (about 140 MB); StartRecording refuses more with std::invalid_argument.
    /// The worker never waits for the writer: a datagram that finds the hand-off full is not
    /// recorded and is counted in RecordingStatus::datagramsDropped.
    std::size_t bufferDatagrams = 8192;
};

/// What a recording has written so far, or wrote.
struct RecordingStatus {
    /// Named after the sensor's JSON keys.
    /// @{
    bool recording{};             ///< the recording runs (it has neither stopped nor failed)
    std::string path;             ///< the capture file
    std::string descriptionPath;  ///< the description file
    uint64_t datagramsWritten{};  ///< datagrams written to the capture
    uint64_t datagramsDropped{};  ///< datagrams the writer could not take in time: not recorded
    int64_t startMicroseconds{};  ///< system time at the start, microseconds since 1970
    int64_t endMicroseconds{};    ///< system time at the end; 0 while it runs
    /// Why the recording stopped by itself ("Could not write <path>: <reason>" when the disk is
    /// full, for example), or why its description could not be written; empty when all went well.
    std::string error;
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("recording", &RecordingStatus::recording), Key("path", &RecordingStatus::path),
        Key("descriptionPath", &RecordingStatus::descriptionPath),
        Key("datagramsWritten", &RecordingStatus::datagramsWritten),
        Key("datagramsDropped", &RecordingStatus::datagramsDropped),
        Key("startMicroseconds", &RecordingStatus::startMicroseconds),
        Key("endMicroseconds", &RecordingStatus::endMicroseconds),
        Key("error", &RecordingStatus::error));
};

/// The sensor's continuous data, received on the client's UDP port and filed into three bounded
/// first-in-first-out queues: errors, measurements and profiles. Obtain it with
/// Quil::GetStream; it may outlive the client. Nothing is received before Start.
///
/// Thread safety: every operation may be called from any thread. Problems of the stream never
/// throw; they become entries of the error queue.
class QUIL_API QuilStream {
public:
    QuilStream() = default;
    QuilStream(const QuilStream&) = delete;
    QuilStream& operator=(const QuilStream&) = delete;
    /// Stops and joins the worker if it still runs, and closes the UDP socket.
    virtual ~QuilStream();

    /// Starts (or resumes) filing the received data into the queues.
    virtual void Start() = 0;
    /// Stops filing; the datagram in hand is finished. Takes effect at once, also while no
    /// datagram arrives.
    virtual void Stop() = 0;
    /// Ends the worker and closes the UDP socket within milliseconds, also while no datagram
    /// arrives (a recording that runs ends as StopRecording ends it). Final: the queues stay
    /// readable, but nothing is received any more.
    virtual void Close() = 0;

    /// Most entries that the overflow rule keeps in each queue (10000 at first).
    virtual std::size_t GetQueueCapacity() = 0;
    /// Sets the capacity; queues holding more entries are not trimmed.
    virtual void SetQueueCapacity(const std::size_t& capacity) = 0;
    /// What a full queue does with a new entry (DropOldest at first).
    virtual QueueOverflowPolicy GetQueueOverflowPolicy() = 0;
    /// Sets what a full queue does with a new entry, from the next entry on.
    virtual void SetQueueOverflowPolicy(QueueOverflowPolicy policy) = 0;

    /// The UDP socket's receive buffer size in bytes, as the operating system applied it.
    /// @throws boost's system_error (a std::runtime_error) "get_option: ..." on failure.
    virtual int GetReceiveBufferSize() = 0;
    /// @throws boost's system_error (a std::runtime_error) "set_option: ..." on failure.
    virtual void SetReceiveBufferSize(const int& bytes) = 0;

    /// Whether the error queue holds an entry.
    virtual bool HasError() = 0;
    /// Removes and returns the oldest error.
    /// @throws std::out_of_range "Error queue is empty."
    virtual StreamError PopError() = 0;
    /// Removes and returns the oldest measurement.
    /// @throws std::out_of_range "Measurement queue is empty."
    virtual StreamMeasurement PopMeasurement() = 0;
    /// Whether the measurement queue holds an entry.
    virtual bool HasMeasurement() = 0;
    /// The number of entries in the measurement queue.
    virtual std::size_t GetMeasurementCount() = 0;
    /// Empties the measurement queue (not counted as dropped).
    virtual void ClearMeasurements() = 0;
    /// Removes and returns the oldest profile.
    /// @throws std::out_of_range "Profile queue is empty."
    virtual StreamProfile PopProfile() = 0;
    /// Whether the profile queue holds an entry.
    virtual bool HasProfile() = 0;
    /// The number of entries in the profile queue.
    virtual std::size_t GetProfileCount() = 0;
    /// Empties the profile queue (not counted as dropped).
    virtual void ClearProfiles() = 0;

    // --- Waiting for data ------------------------------------------------------------------
    // Each wait returns as soon as an entry is filed (the worker wakes it), or after `timeout`
    // with nothing. On a stream that is not started, or stopped, or closed, nothing can arrive:
    // a wait returns at once, with an entry only if its queue holds one. Several threads may
    // wait at once; each entry goes to exactly one of them.

    /// Removes and returns the oldest profile, waiting up to `timeout` for one.
    virtual std::optional<StreamProfile> PopProfileFor(std::chrono::milliseconds timeout) = 0;
    /// Removes and returns the oldest measurement, waiting up to `timeout` for one.
    virtual std::optional<StreamMeasurement> PopMeasurementFor(
        std::chrono::milliseconds timeout) = 0;
    /// Removes and returns the oldest error, waiting up to `timeout` for one.
    virtual std::optional<StreamError> PopErrorFor(std::chrono::milliseconds timeout) = 0;
    /// Waits up to `timeout` until any of the three queues holds an entry; true when one does.
    /// Removes nothing.
    virtual bool WaitForData(std::chrono::milliseconds timeout) = 0;

    // --- Counters --------------------------------------------------------------------------

    /// The counters since creation or the last ResetStatistics; never stops the worker.
    virtual StreamStatistics GetStatistics() = 0;
    /// Starts a new count: every counter of kCounters reads 0 afterwards.
    virtual void ResetStatistics() = 0;

    // --- Recording -------------------------------------------------------------------------
    // A recording is a capture file in the pcap format that tcpdump and Wireshark read: every
    // datagram the stream receives while started, as UDP over IPv4 from the sensor's address
    // and port to this host's port, stamped with its arrival time to the microsecond, as it
    // arrived (before any check). A writer thread writes the file; the stream's worker only
    // hands datagrams over and never waits for it. Beside the capture goes a JSON description
    // file: the stream's port, start and end times, the counters at the end, and the sensor's
    // description given in the options. RecordingReplay plays recordings back.

    /// Starts recording into `path`, replacing the file. Writes the description file at once,
    /// and again at the end. A recording that failed by itself is completed first.
    /// @throws std::logic_error "The stream is already recording to <path>.",
    ///         std::runtime_error "Could not record to <path>: <reason>" when a file cannot be
    ///         opened or the sensor's description is not a JSON object, and
    ///         std::invalid_argument "Could not record to <path>: <reason>", before any file is
    ///         touched, when the description would overwrite the capture ("line.json" as the
    ///         capture) or `options.bufferDatagrams` is beyond its limit.
    virtual void StartRecording(const std::string& path, const RecordingOptions& options = {}) = 0;
    /// Ends the recording: writes what the hand-off holds, closes the capture and completes the
    /// description file. Returns what was written; a failure of the recording is in its
    /// `error`, never thrown. Without a recording, returns the last one's status. Returns
    /// within about a second even when the capture's file takes no more data (a stalled disk, a
    /// pipe nobody reads): the recording has then failed, and its `error` says so. Close and
    /// the stream's destructor end a recording this way too.
    virtual RecordingStatus StopRecording() = 0;
    /// The status of the running recording, or of the last one.
    virtual RecordingStatus GetRecordingStatus() = 0;

    // --- Arrival times and senders ---------------------------------------------------------

    /// Whether profiles filed from now on carry their arrival time (off at first). The system
    /// stamps each datagram only while arrival times are on or a recording runs.
    virtual void SetArrivalTimes(bool enabled) = 0;
    /// Removes and returns the oldest profile with its arrival time, waiting up to `timeout`
    /// for one, as PopProfileFor does.
    virtual std::optional<TimedProfile> PopTimedProfileFor(std::chrono::milliseconds timeout) = 0;
    /// Takes datagrams only from the IPv4 address `ipv4` ("192.168.0.10"), for a host that
    /// receives several sensors on one port; the others are dropped and counted in
    /// StreamStatistics::datagramsOtherSender. Empty: from every sender (at first).
    /// @throws std::invalid_argument "<ipv4> is not an IPv4 address."
    virtual void AcceptOnlyFrom(const std::string& ipv4) = 0;

    // --- Recording in pieces ---------------------------------------------------------------

    /// Moves the running recording into a new capture `path` without losing a datagram: every
    /// datagram from one point on goes into `path`, every one before it stays in the previous
    /// capture, none in both. The previous capture is completed as StopRecording completes it
    /// (its description's end time and counters written) and its final status returned; the
    /// stream's worker never waits for either file. The new capture gets its own description
    /// file beside it (`path` with its extension replaced by ".json") and the running
    /// recording's other options. GetRecordingStatus then reports the new capture, its start
    /// time and its counters from the move on.
    /// @throws std::logic_error "The stream is not recording." without a running recording,
    ///         std::runtime_error "Could not record to <path>: <reason>" when a file cannot be
    ///         opened, and std::invalid_argument "Could not record to <path>: <reason>", before
    ///         any file is touched, when the new description would overwrite the new capture or
    ///         either new file is one of the running recording's files. On any of these the
    ///         running recording goes on in its file, untouched.
    virtual RecordingStatus ContinueRecordingIn(const std::string& path) = 0;
};

/// How RecordingReplay plays a recording back.
struct ReplayOptions {
    /// Play at the recorded pace times `speed`: 1 as recorded, 10 ten times as fast; from 0.001
    /// to 1000. kAsFastAsPossible (0) hands every datagram over without waiting. A single gap
    /// between time stamps waits a day at most (a capture whose clock jumped by years goes on).
    double speed = 1.0;
    static constexpr double kAsFastAsPossible = 0.0;  ///< `speed` without waiting
    /// Only UDP datagrams sent to this port are replayed. 0: the port that the description file
    /// names, or every port when there is no description.
    uint16_t port = 0;
    /// Start again from the beginning at the end of the capture.
    bool loop = false;
};

/// What a replay has read from its capture.
struct ReplayStatistics {
    /// Named after the sensor's JSON keys.
    /// @{
    uint64_t recordsRead{};          ///< capture records read, of any kind
    uint64_t datagramsReplayed{};    ///< UDP datagrams handed to the stream
    uint64_t recordsNotUdp{};        ///< skipped: not UDP over IPv4 (ARP, IPv6, TCP, ...)
    uint64_t datagramsOtherPort{};   ///< skipped: UDP to another port than the replayed one
    uint64_t recordsMalformed{};     ///< skipped: headers cut short or inconsistent
    uint64_t fragmentsIncomplete{};  ///< IPv4 fragment sets that never completed, dropped
    /// skipped: cut by the capture's snap length (the capture holds only part of a datagram
    /// no longer than a sensor sends)
    uint64_t datagramsCutByCapture{};
    uint64_t passes{};  ///< times the capture was read to its end
    bool finished{};    ///< the capture was read to its end and every datagram handed over
    /// Why reading stopped before the end (a capture cut off in a record, a corrupt record
    /// length); empty otherwise. The stream's error queue carries it too.
    std::string error;
    /// @}

    static constexpr auto kFields = std::make_tuple(
        Key("recordsRead", &ReplayStatistics::recordsRead),
        Key("datagramsReplayed", &ReplayStatistics::datagramsReplayed),
        Key("recordsNotUdp", &ReplayStatistics::recordsNotUdp),
        Key("datagramsOtherPort", &ReplayStatistics::datagramsOtherPort),
        Key("recordsMalformed", &ReplayStatistics::recordsMalformed),
        Key("fragmentsIncomplete", &ReplayStatistics::fragmentsIncomplete),
        Key("datagramsCutByCapture", &ReplayStatistics::datagramsCutByCapture),
        Key("passes", &ReplayStatistics::passes), Key("finished", &ReplayStatistics::finished),
        Key("error", &ReplayStatistics::error));
};

/// A recording played back through the same reassembly, decoding and queues as a live sensor:
/// an application reads it with the QuilStream interface, Start included. Reads captures
/// written by StartRecording and captures of a sensor's traffic made by tcpdump or Wireshark:
/// pcap files with microsecond or nanosecond time stamps (and pcapng), link types Ethernet,
/// Linux cooked (SLL and SLL2) and raw IP; IPv4 fragments are reassembled (at most 64 sets at
/// once, each within 2 s of capture time; the rest is dropped and counted).
/// Nothing of a recording is lost to a full queue: where a live stream applies its overflow
/// rule, a replay waits until the application has taken an entry.
///
/// Thread safety: every operation may be called from any thread. The stream may outlive this
/// object and goes on replaying.
class QUIL_API RecordingReplay {
public:
    /// Opens the capture at `path` and, when present, its description file (the capture's name
    /// with the extension replaced by ".json").
    /// A folder at `path` is a recording in pieces (a gateway's kept black box:
    /// 00000001.pcap, 00000002.pcap, ... with their descriptions): its captures (".pcap",
    /// ".pcapng") are played in the order of their names as one recording, with the first
    /// one's description; damage in a later piece names that piece, and a folder without a
    /// capture is refused with "Could not open recording <folder>: it holds no capture".
    /// @throws std::runtime_error "Could not open recording <path>: <reason>" when the file
    ///         cannot be read, is no capture, or has a link type other than those above, or when
    ///         the description is no regular file or larger than 4 MiB; std::invalid_argument
    ///         "Replay speed <speed> is out of range: 0 (as fast as possible) or 0.001 to 1000".
    static std::unique_ptr<RecordingReplay> Open(const std::string& path,
                                                 const ReplayOptions& options = {});
    virtual ~RecordingReplay();

    /// The stream that delivers the recording; nothing is read before its Start.
    virtual std::shared_ptr<QuilStream> GetStream() = 0;
    /// The text of the description file, or empty when there is none.
    virtual std::string GetDescription() = 0;
    /// What has been read from the capture so far.
    virtual ReplayStatistics GetStatistics() = 0;
    /// Waits up to `timeout` until the capture has been read to its end and the stream has
    /// handled every datagram (never, while looping), or reading failed; true when so.
    virtual bool WaitUntilFinished(std::chrono::milliseconds timeout) = 0;
};

/// One UDP datagram of a capture, as it was captured.
struct RecordedDatagram {
    int64_t timeNanoseconds{};   ///< capture time, nanoseconds since 1970
    uint32_t senderAddress{};    ///< IPv4, host byte order (127.0.0.1 is 0x7F000001)
    uint16_t senderPort{};       ///< UDP source port
    uint32_t receiverAddress{};  ///< IPv4, host byte order
    uint16_t receiverPort{};     ///< UDP destination port
    std::size_t wireSize{};      ///< length as sent; more than bytes.size() when the capture cut it
    std::vector<uint8_t> bytes;  ///< the datagram's bytes
};

/// The raw datagrams of a capture, in order, for programs that forward or inspect them (the
/// tool's `replay` sends them to a UDP port). Reads what RecordingReplay reads, with the same
/// port filter. Not for use from several threads.
/// A folder of pieces is read as one capture, as RecordingReplay::Open reads it.
class QUIL_API RecordingReader {
public:
    /// `port` 0: the port the description file names, or every port when there is none.
    /// @throws std::runtime_error "Could not open recording <path>: <reason>".
    static std::unique_ptr<RecordingReader> Open(const std::string& path, uint16_t port = 0);
    virtual ~RecordingReader();

    /// The next datagram; false at the end of the capture.
    /// @throws std::runtime_error "Recording <path> is damaged: <reason>".
    virtual bool Next(RecordedDatagram& datagram) = 0;
    /// Reads again from the start.
    virtual void Rewind() = 0;
    /// The capture's counters; `datagramsReplayed` counts the datagrams Next returned.
    virtual ReplayStatistics GetStatistics() = 0;
};

}  // namespace UdpStreaming

// ---------------------------------------------------------------------------------------------
// The client
// ---------------------------------------------------------------------------------------------

/// A client of one sensor. Create it with Quil::Create.
///
/// Thread safety: the operations may be called from several threads; requests are serialised,
/// so each caller receives the reply to its own request.
///
/// @par Requests
/// An operation on one of the sensor's resources sends one request over the WebSocket and waits
/// for its reply. A read sends {"msgType":"GET","msgData":["<resource>"]}, with a parameter
/// object as the second element where the operation names one; a write sends
/// {"msgType":"SET","msgData":["<resource>",<value>]}, the value being the object of the members
/// the operation names. Every request carries the session's "sessionID" and its own "msgID".
/// "Reads X" and "Writes X" below name the resource.
///
/// @par Failures of every read and write
/// - std::runtime_error "No matching response found to request with sessionID: <id> msgID:
///   <id>" when no reply arrives within the time limit (SetRequestTimeout), and at once on a
///   connection that is lost; with SetAutoReconnect on, "Could not connect to host <host>" when
///   no new connection can be opened in time.
/// - std::invalid_argument "GET returned an error: Invalid parameters passed for resource
///   <resource>" (a write: "SET returned an error: ...") when the sensor refuses the request's
///   values, and std::domain_error for its other refusals: "... Your role is not allowed to
///   access resource <resource>" (followed by ", you need role <role>." when the sensor names
///   it), "... You password was wrong for role <role>", "... Your role is already used by
///   <client>", or the sensor's error code after the prefix.
/// - std::domain_error "GetResource failed <resource> MessageID: <id>" when a read's reply is not
///   for its resource, and "Unknwon message received: <type>" when a write's reply is neither an
///   acknowledgement nor an error.
///
/// @par Failures of every read
/// Beyond those of the request: std::invalid_argument "No response received (is null)." on an
/// empty reply, std::out_of_range "Field <key> missing in response." for the first missing key
/// (all keys are checked before any is converted), and the JSON library's type_error (a
/// std::exception) for a value of the wrong type. Nothing is checked against limits on the
/// client side: the sensor decides.
class QUIL_API Quil {
public:
    /// For implementations; applications call Create.
    Quil() = default;
    /// Defaulted: the interface itself holds no state.
    Quil(const Quil&) = default;
    /// Defaulted: the interface itself holds no state.
    Quil& operator=(const Quil&) = default;
    /// Ends the client; a stream the application still holds lives on.
    virtual ~Quil();

    /// Creates a client for the sensor at `host` (name or address, reached on TCP port 80 unless
    /// it names another port) whose measurement stream is received on the local UDP port `port`.
    /// Contacts nothing on the network.
    /// @param host the sensor's name or IPv4 address, optionally followed by ":" and the port of
    ///        its WebSocket service (for example "127.0.0.1:8080"; an IPv6 address with a port
    ///        is written in brackets; see SplitSensorAddress)
    /// @param port the local UDP port the stream binds when GetStream is first called
    /// @return the client, not yet connected.
    static std::unique_ptr<Quil> Create(const std::string& host, const unsigned short& port);

    /// The library's version, "<major>.<minor>.<patch>" as the project states it (for example
    /// "0.1.0"): the version of the shared library in use, which `quil --version` also names.
    /// Needs no client; sends nothing and never throws.
    static std::string Version();

    /// The stream object that receives the UDP measurement stream on the port given to Create,
    /// created on the first call; later calls return the same object. The stream may outlive
    /// the client.
    /// @throws std::runtime_error "UdpTransport::Open Error: " + reason when the port cannot be
    ///         bound; a later call tries again.
    virtual std::shared_ptr<UdpStreaming::QuilStream> GetStream() = 0;

    // --- Session and roles ---------------------------------------------------------------

    /// Opens the connection (if there is none, or the sensor ended or broke it) and the session.
    /// Once a connection is lost, requests fail at once with the time-out's text instead of
    /// waiting their limit, until Connect opens a new one (the role needs a new Login).
    /// @throws std::runtime_error "Could not connect to host <host>" when the connection fails,
    ///         or "No matching response found to request with sessionID: ..." without a reply.
    virtual void Connect() = 0;
    /// Ends the session and closes the connection. Never throws.
    virtual void Disconnect() = 0;
    /// Takes `role`; an empty `password` is not sent. Writes "myRole" with {"role", "password"}.
    /// @throws std::domain_error on a wrong password, a role taken by another client, ...
    ///         (see Quil), and the failures of every write.
    virtual void Login(const std::string& role, const std::string& password) = 0;
    /// Returns to the role "observer": writes "myRole" with {"role": "observer"}.
    virtual void Logout() = 0;

    // --- Sensor identity -------------------------------------------------------------------

    // Every operation from here to "Beyond the sensor's resources" that reads fails as the class
    // description lists under "Failures of every read" (an empty reply, a missing key, a value
    // of the wrong type, and the failures of the request itself), and every one that writes as
    // it lists under "Failures of every read and write"; only other failures are named below.

    /// Reads "SensorMetaData". Missing version texts read as "-".
    /// @return the sensor's identity.
    virtual SensorMetaData GetSensorMetaData() = 0;

    // --- Network and time server -----------------------------------------------------------

    /// Reads "Network".
    virtual Network GetNetwork() = 0;
    /// Writes "Network" with the first four fields; macAdress is read only and never sent.
    virtual void SetNetwork(const Network& network) = 0;
    /// As SetNetwork(const Network&), with the members one by one.
    virtual void SetNetwork(const bool& useDHCP, const std::string& staticIP,
                            const std::string& subnetMask, const std::string& gateway) = 0;
    /// The number of time server entries the sensor supports ("numServers").
    virtual uint32_t GetTimeserverMeta() = 0;
    /// Reads "Timeserver".
    virtual Timeserver GetTimeserver() = 0;
    /// Writes "Timeserver" with "useNTP" and "ntpServers".
    virtual void SetTimeserver(const Timeserver& timeserver) = 0;
    /// As SetTimeserver(const Timeserver&), with the members one by one.
    virtual void SetTimeserver(const bool& useNTP, const std::vector<std::string>& ntpServers) = 0;

    // --- Process interfaces and UDP output -------------------------------------------------

    /// Reads "ProcessInterfacesMeta": the choices of real-time protocols and IO-Link layouts.
    virtual ProcessInterfacesMeta GetProcessInterfacesMeta() = 0;
    /// Reads "ProcessInterfaces"; absent keys read as false, 0 or empty text.
    virtual ProcessInterfaces GetProcessInterfaces() = 0;
    /// Reads "ProcessInterfaces", replaces these seven members and writes the whole body back,
    /// so members this library does not know are kept.
    virtual void SetProcessInterfaces(const ProcessInterfaces& processInterfaces) = 0;
    /// As SetProcessInterfaces(const ProcessInterfaces&), with the members one by one.
    virtual void SetProcessInterfaces(const bool& enableModbus, const bool& enableOPCUA,
                                      const uint32_t& realtimeProtocolID,
                                      const bool& enableUDPStreaming,
                                      const std::string& udpDestinationIP,
                                      const uint32_t& udpDestinationPort,
                                      const uint32_t& iolProcessDataLayout) = 0;
    /// Reads "UDPMeta": the data ids the UDP output offers.
    virtual UDPMeta GetUDPMeta() = 0;
    /// Reads "UDPStreamData": the data ids the UDP output carries.
    virtual UDPStreamData GetUDPStreamData() = 0;
    /// Writes "UDPStreamData" with "enabledDataIDs".
    virtual void SetUDPStreamData(const UDPStreamData& udpStreamData) = 0;

    // --- Laser power and exposure time -----------------------------------------------------

    /// The laser power factor ("Factor" of "LaserPower").
    virtual double GetLaserPower() = 0;
    /// Writes "LaserPower" with {"Factor": factor}.
    virtual void SetLaserPower(const double& factor) = 0;
    /// Reads "LaserPowerMeta".
    virtual LaserPowerMeta GetLaserPowerMeta() = 0;
    /// Reads "LaserPowerLimits".
    virtual LaserPowerLimits GetLaserPowerLimits() = 0;
    /// The exposure time ("ExposureTime" of "ExposureTime"), in the unit of GetExposureTimeMeta.
    virtual uint32_t GetExposureTime() = 0;
    /// Writes "ExposureTime" with {"ExposureTime": exposureTime}.
    virtual void SetExposureTime(const uint32_t& exposureTime) = 0;
    /// Reads "ExposureTimeLimits".
    virtual ExposureTimeLimits GetExposureTimeLimits() = 0;
    /// Reads "ExposureTimeMeta".
    virtual ExposureTimeMeta GetExposureTimeMeta() = 0;

    // --- Trigger ---------------------------------------------------------------------------

    /// Fires `count` software triggers: writes "TriggerFire" with {"count": count}.
    virtual void TriggerFire(const uint32_t& count) = 0;
    /// Reads "Trigger"; an absent "encoderSteps" reads as 0.
    virtual Trigger GetTrigger() = 0;
    /// Writes "Trigger" with its four members.
    virtual void SetTrigger(const Trigger& trigger) = 0;
    /// As SetTrigger(const Trigger&), with the members one by one.
    virtual void SetTrigger(const uint32_t& triggerMode, const uint32_t& modeOption,
                            const uint32_t& triggerTime, const uint32_t& encoderSteps) = 0;
    /// Reads "TriggerLimits"; absent step limits read as 0.
    virtual TriggerLimits GetTriggerLimits() = 0;
    /// Reads "TriggerMeta".
    virtual TriggerMeta GetTriggerMeta() = 0;

    // --- Resolution, resampling and profile filter -----------------------------------------

    /// Reads "Resolution".
    virtual Resolution GetResolution() = 0;
    /// Writes "Resolution" with "xResolution" and "zResolution".
    virtual void SetResolution(const Resolution& resolution) = 0;
    /// As SetResolution(const Resolution&), with the members one by one.
    virtual void SetResolution(const uint32_t& xResolution, const uint32_t& zResolution) = 0;
    /// Reads "ResolutionLimits".
    virtual ResolutionLimits GetResolutionLimits() = 0;
    /// Only "enabled" of "Resampling".
    virtual bool GetResamplingEnabled() = 0;
    /// Reads "Resampling".
    virtual Resampling GetResampling() = 0;
    /// Writes "Resampling" with "enabled" and "gridValue".
    virtual void SetResampling(const Resampling& resampling) = 0;
    /// As SetResampling(const Resampling&), with the members one by one.
    virtual void SetResampling(const bool& enabled, const double& gridValue) = 0;
    /// Reads "ResamplingMeta".
    virtual ResamplingMeta GetResamplingMeta() = 0;
    /// Reads "ProfileFilter".
    virtual ProfileFilter GetProfileFilter() = 0;
    /// Writes "ProfileFilter" with "movingAverageEnabled" and "movingAverageLength".
    virtual void SetProfileFilter(const ProfileFilter& profileFilter) = 0;
    /// As SetProfileFilter(const ProfileFilter&), with the members one by one.
    virtual void SetProfileFilter(const bool& movingAverageEnabled,
                                  const uint32_t& movingAverageLength) = 0;
    /// Only "movingAverageEnabled" of "ProfileFilter".
    virtual bool GetProfileFilterEnabled() = 0;
    /// Reads "ProfileFilterMeta".
    virtual ProfileFilterMeta GetProfileFilterMeta() = 0;

    // --- Profile algorithm -----------------------------------------------------------------

    /// The selected algorithm ("algorithmID" of "ProfileAlgorithm").
    virtual uint32_t GetProfileAlgorithm() = 0;
    /// Selects an algorithm: writes "ProfileAlgorithm" with {"algorithmID": algorithmID}.
    virtual void SetProfileAlgorithm(const uint32_t& algorithmID) = 0;
    /// Reads "ProfileAlgorithmMeta": the algorithms offered.
    virtual ProfileAlgorithmMeta GetProfileAlgorithmMeta() = 0;
    /// Reads "ProfileAlgorithmParamsLimits" with the parameter {"algorithmID": algorithmID}; each
    /// limit is the array [min, max].
    virtual ProfileAlgorithmParamsLimits GetProfileAlgorithmParamsLimits(
        const uint32_t& algorithmID) = 0;
    /// Reads "ProfileAlgorithmParamsMeta".
    virtual ProfileAlgorithmParamsMeta GetProfileAlgorithmParamsMeta() = 0;
    /// The parameters of algorithm `algorithmID`, as the sensor answers.
    virtual ProfileAlgorithmParams GetProfileAlgorithmParams(const uint32_t& algorithmID) = 0;
    /// Writes "ProfileAlgorithmParams" with {"algorithmID": algorithmID, "params": {the four
    /// members}}.
    virtual void SetProfileAlgorithmParams(const uint32_t& algorithmID,
                                           const ProfileAlgorithmParams& params) = 0;
    /// As SetProfileAlgorithmParams(const uint32_t&, const ProfileAlgorithmParams&), with the
    /// members one by one.
    virtual void SetProfileAlgorithmParams(const uint32_t& algorithmID,
                                           const uint32_t& minPeakHeight,
                                           const uint32_t& minPeakWidth,
                                           const uint32_t& thresholdValue,
                                           const uint32_t& thresholdTypeID) = 0;

    // --- Axes and field of view ------------------------------------------------------------

    /// Reads "AxesMeta": the z-axis definitions offered.
    virtual AxesMeta GetAxesMeta() = 0;
    /// The z-axis definition ("zAxisDefinitionID" of "Axes").
    virtual uint32_t GetAxes() = 0;
    /// Writes "Axes" with {"zAxisDefinitionID": zAxisDefinitionID}.
    virtual void SetAxes(const uint32_t& zAxisDefinitionID) = 0;
    /// Reads "FoV".
    virtual FoV GetFoV() = 0;
    /// Writes "FoV" with its four members.
    virtual void SetFoV(const FoV& fov) = 0;
    /// As SetFoV(const FoV&), with the members one by one.
    virtual void SetFoV(const double& limitLeft, const double& limitRight, const double& offset,
                        const double& height) = 0;
    /// Reads "FoVDistance".
    virtual FoVDistance GetFoVDistance() = 0;
    /// Writes "FoVDistance" with its four members.
    virtual void SetFoVDistance(const FoVDistance& fovDistance) = 0;
    /// As SetFoVDistance(const FoVDistance&), with the members one by one.
    virtual void SetFoVDistance(const double& limitLeft, const double& limitRight,
                                const double& near, const double& far) = 0;
    /// Reads "FoVLimits".
    virtual FoVLimits GetFoVLimits() = 0;
    /// Reads "FoVMeta".
    virtual FoVMeta GetFoVMeta() = 0;

    // --- Settings backup and restore -------------------------------------------------------

    /// The settings of all setups as one opaque text ("blob" of "ReadAllSettings").
    virtual std::string ReadAllSettings() = 0;
    /// The settings of setup `numSetup` as one opaque text.
    virtual std::string ReadSingleSetting(const uint32_t& numSetup) = 0;
    /// Writes a text read with ReadAllSettings back, in blocks no longer than the sensor
    /// accepts ("WriteSettingsBlockLimits", then "StartSettingWrite" without a value, then the
    /// numbered blocks, exactly the last one marked). A block ends at the last UTF-8 character
    /// boundary at or before the limit, so a multi-byte character is never split between two
    /// blocks; the blocks together are the text, byte for byte. An empty text sends no block.
    /// Each of the following is raised before the write is announced:
    /// @throws std::invalid_argument "Settings blob is not valid UTF-8 (byte <n>)." (no request
    ///         is sent); "Received invalid settings block length." when the sensor allows blocks
    ///         of length 0; "Settings block length <limit> is smaller than the UTF-8 character at
    ///         byte <n>." when a character does not fit into one block.
    ///         The failures of every write follow once the write is announced.
    virtual void WriteAllSettings(const std::string& blob) = 0;
    /// Writes a text read with ReadSingleSetting back into setup `numSetup` (announced with
    /// {"numSetup": numSetup}, whatever the number's size); otherwise as WriteAllSettings.
    virtual void WriteSingleSetting(const std::string& blob, const uint32_t& numSetup) = 0;

    // --- Parameter setups ------------------------------------------------------------------

    /// The setup loaded at start-up ("numSetup" of "StartupSetup").
    virtual uint32_t GetStartupSetup() = 0;
    /// Writes "StartupSetup" with {"numSetup": numSetup}.
    virtual void SetStartupSetup(const uint32_t& numSetup) = 0;
    /// Loads setup `active`: writes "ActiveSetup" with {"active": active}.
    virtual void SetActiveSetup(const uint32_t& active) = 0;
    /// Stores the current settings into setup `numSetup`: writes "StoreToSetup" with
    /// {"numSetup": numSetup}.
    virtual void StoreToSetup(const uint32_t& numSetup) = 0;
    /// Resets all settings: writes "AllSettingsReset" without a value.
    virtual void AllSettingsReset() = 0;
    /// The content of setup `numSetup` as compact JSON text (keys in ascending order): reads
    /// "ParameterSetup" with the parameter {"numSetup": numSetup}.
    virtual std::string GetParameterSetup(const uint32_t& numSetup) = 0;
    /// The number of setup storages ("numStorages" of "ParameterSetupMeta").
    virtual uint32_t GetParameterSetupMeta() = 0;
    /// Reads "ActiveSetup".
    virtual ActiveSetup GetActiveSetup() = 0;

    // --- Measurement values ----------------------------------------------------------------

    /// Reads "MeasurementValues": the latest measurement result.
    /// @throws std::domain_error "Field timestamp is not an array of at least one number."
    ///         and as every read (see Quil).
    virtual MeasurementValues GetMeasurementValues() = 0;
    /// Reads "MeasurementMeta".
    virtual MeasurementMeta GetMeasurementMeta() = 0;
    /// Reads "MeasurementValuesMeta": the configured measurement tools.
    virtual MeasurementValuesMeta GetMeasurementValuesMeta() = 0;

    // --- Profiles and images ---------------------------------------------------------------

    /// Reads "Profile": "points" are split alternately into xValues and zValues; "length" is
    /// passed on as sent.
    /// @throws std::domain_error "Field timestamp is not an array of at least one number."
    ///         and as every read (see Quil).
    virtual Profile GetProfile() = 0;
    /// Reads "ProfileMeta".
    virtual ProfileMeta GetProfileMeta() = 0;
    /// Reads "AugmentedProfile": as GetProfile, plus "brightness".
    /// @throws std::domain_error "Field timestamp is not an array of at least one number."
    ///         and as every read (see Quil).
    virtual AugmentedProfile GetAugmentedProfile() = 0;
    /// Reads "Image": the camera image, its "pixels" decoded from Base64.
    /// @throws std::out_of_range "Base64Decode: Input data size is not a multiple of 4", and
    ///         std::invalid_argument for a character outside the Base64 alphabet or an "=" that
    ///         does not end the text, naming its position.
    ///         and as every read (see Quil).
    virtual Image GetImage() = 0;
    /// Reads "ImageMeta".
    virtual ImageMeta GetImageMeta() = 0;

    // --- Image file export -----------------------------------------------------------------

    /// Writes `image` to `fileName` as a binary grey map ("P5"), roiWidth / colBinning pixels
    /// wide and roiHeight / rowBinning high, followed by every byte of `pixels`. Needs no
    /// connection.
    /// @throws std::invalid_argument when a binning is 0 (the file is not touched), and
    ///         std::runtime_error naming the file when it cannot be written.
    virtual void SaveImage(const std::string& fileName, const Image& image) = 0;

    // --- Beyond the sensor's resources ---------------------------------------------------

    /// The sensor's host, as given to Create but without a port it named. Sends nothing; never
    /// throws.
    virtual std::string GetHost() = 0;
    /// The local UDP port of the stream, as given to Create. Sends nothing; never throws.
    virtual unsigned short GetStreamPort() = 0;
    /// Likely reasons why the stream receives nothing, in plain words, one per entry, from facts
    /// it checks: the sensor's UDP output, data ids and trigger mode (read from the sensor when
    /// connected; a trigger mode that waits for a trigger is named), its destination address and
    /// port against this host's addresses and the stream's port, and the stream's counters
    /// (datagrams rejected, dropped by the system, a capped receive buffer). Empty when none of
    /// these explains it. Never throws: a setting that cannot be read is itself named as a reason.
    virtual std::vector<std::string> DiagnoseStream() = 0;

    // --- How requests behave -----------------------------------------------------------------

    /// The time limit of each read and write from the next one on; 10 s until set. A request
    /// without a reply within it fails with std::runtime_error "No matching response found to
    /// request with sessionID: <id> msgID: <id>". Connect and Disconnect keep their own limits.
    /// Any thread.
    /// @throws std::invalid_argument "Request timeout must be positive." for zero or less.
    virtual void SetRequestTimeout(std::chrono::milliseconds timeout) = 0;
    /// Automatic reconnection, off until switched on. When on, a read or write on a connection
    /// that the sensor ended or that broke first opens a new connection and session, trying
    /// again after 50 ms, 100 ms, 200 ms ... (at most 1 s apart), all within the request's time
    /// limit; when no attempt succeeds in time, the request fails with the last attempt's
    /// exception (std::runtime_error "Could not connect to host <host>" or the session's "No
    /// matching response found ..."). A read whose connection is lost while it waits is asked
    /// again on the new connection. A write whose connection is lost after it was sent is never
    /// repeated, since the sensor may have carried it out: it fails as today, with
    /// std::runtime_error "No matching response found ...", and the next request reconnects.
    ///
    /// Restored: the connection and a session (with a new session id). Not restored: the role,
    /// which is "observer" on a new session (Login again), and nothing the sensor forgot. The
    /// UDP stream is untouched, as it never depended on the connection. A connection closed by
    /// Disconnect is not reopened. Any thread.
    virtual void SetAutoReconnect(bool enabled) = 0;
};

/// A JSON object for RecordingOptions::sensorDescription: the sensor's identity
/// ("SensorMetaData"), its UDP output ("ProcessInterfaces", "UDPStreamData", "UDPMeta"), the
/// profile, image and measurement descriptions ("ProfileMeta", "ImageMeta", "MeasurementMeta",
/// "MeasurementValuesMeta") and the axes and field of view ("AxesMeta", "Axes", "FoV",
/// "FoVDistance", "FoVMeta"), each under its resource name as the sensor sends it. `settings`,
/// a JSON object such as the tool's `config save` document, is added as "settings" when given.
/// A resource that cannot be read is left out and named in "unreadable". Needs a connected
/// client of this library. Takes three request limits (SetRequestTimeout) at most as a whole:
/// against a sensor that does not answer, the resources not asked for by then are unreadable.
/// @throws std::invalid_argument "Settings are not a JSON object." for other `settings`.
QUIL_API std::string DescribeSensorForRecording(Quil& client, const std::string& settings = {});

/// Aims the sensor's UDP output at this host for as long as it lives: remembers the sensor's
/// "ProcessInterfaces" and "UDPStreamData", selects `dataIds`, and switches the output on
/// towards `localAddress`:`port`. Destruction or Restore puts both settings back exactly as
/// they were, each independently of the other.
///
/// Writing these settings needs the role "operator" or higher: take it with Login first.
/// The client must stay connected and outlive this object. Not for use from several threads.
class QUIL_API StreamOutputAim {
public:
    /// `localAddress` empty: this host's address on the route to the sensor.
    /// @throws std::runtime_error "No route to <host>: <reason>" when that address cannot be
    ///         found, and whatever the reads and writes throw. When a write fails, what was
    ///         already written is put back before the exception leaves.
    StreamOutputAim(Quil& client, unsigned short port, std::vector<uint32_t> dataIds,
                    std::string localAddress = {});
    /// Restores, if Restore was not called; a failure is swallowed (call Restore to see it).
    ~StreamOutputAim();
    StreamOutputAim(const StreamOutputAim&) = delete;
    StreamOutputAim& operator=(const StreamOutputAim&) = delete;

    /// Puts back "ProcessInterfaces", then "UDPStreamData", trying both even when the first
    /// fails. A later call (or the destructor) tries again what failed, and nothing else.
    /// @throws std::runtime_error "Could not restore the sensor's <resource>: <reason>" (two
    ///         such texts joined with "; " when both fail).
    void Restore();

    /// The address the output is aimed at.
    const std::string& GetLocalAddress() const { return localAddress; }
    /// The settings found at construction, which Restore puts back.
    const ProcessInterfaces& GetSavedProcessInterfaces() const { return savedInterfaces; }
    /// The "UDPStreamData" found at construction, which Restore puts back.
    const UDPStreamData& GetSavedUDPStreamData() const { return savedStreamData; }

    /// This host's address on the route to `host` (no datagram is sent).
    /// @throws std::runtime_error "No route to <host>: <reason>".
    static std::string LocalAddressTowards(const std::string& host);

private:
    Quil& client;
    std::string localAddress;
    ProcessInterfaces savedInterfaces;
    UDPStreamData savedStreamData;
    bool interfacesRestored{false};
    bool streamDataRestored{false};
};

}  // namespace Varkon::QUILApi

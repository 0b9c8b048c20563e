// Reads of the configuration resources: the records they produce and the failures they report.
#include "support/ExpectThrow.h"
#include "support/FakeClient.h"
#include "support/JsonCases.h"

#include <cmath>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::Throws;

class ConfigurationReadTest : public Testing::FakeClientTest {
protected:
    /// Reads `body` with `read`, checks the result and that the GET named `resource` (with
    /// `param` unless null).
    template <class Read, class T>
    void Expect(const char* resource, const char* body, Read read, const T& expected,
                const json& param = nullptr) {
        const auto result = Reading(json::parse(body), read);
        EXPECT_TRUE(result == expected) << resource << " on " << body;
        json msgData = json::array({resource});
        if (!param.is_null()) {
            msgData.push_back(param);
        }
        EXPECT_EQ(MsgData(), msgData.dump()) << resource;
    }
};

TEST_F(ConfigurationReadTest, NetworkAndTimeserver) {
    Expect(
        "Network",
        R"({"useDHCP":true,"staticIP":"192.0.2.20","subnetMask":"255.255.255.0",
               "gateway":"192.0.2.1","macAdress":"00-00-5E-00-53-01"})",
        [&] { return quil.GetNetwork(); },
        Network{true, "192.0.2.20", "255.255.255.0", "192.0.2.1", "00-00-5E-00-53-01"});
    Expect(
        "Timeserver", R"({"useNTP":false,"ntpServers":["192.0.2.123","192.0.2.124"]})",
        [&] { return quil.GetTimeserver(); }, Timeserver{false, {"192.0.2.123", "192.0.2.124"}});
    Expect(
        "Timeserver", R"({"useNTP":true,"ntpServers":[]})", [&] { return quil.GetTimeserver(); },
        Timeserver{true, {}});
    Expect(
        "TimeserverMeta", R"({"numServers":2})", [&] { return quil.GetTimeserverMeta(); }, 2u);
    Expect(
        "TimeserverMeta", R"({"numServers":2.7})", [&] { return quil.GetTimeserverMeta(); }, 2u);
}

TEST_F(ConfigurationReadTest, ProcessInterfacesTakeDefaultsForAbsentKeys) {
    Expect(
        "ProcessInterfaces", R"({"enableUDPStreaming":true,"udpDestinationPort":5000})",
        [&] { return quil.GetProcessInterfaces(); },
        ProcessInterfaces{false, false, 0, true, "", 5000, 0});
    Expect(
        "ProcessInterfaces",
        R"({"enableModbus":true,"enableOPCUA":true,"realtimeProtocolID":3.9,
               "enableUDPStreaming":false,"udpDestinationIP":"192.0.2.10",
               "udpDestinationPort":70000,"iolProcessDataLayout":true,"extra":[1]})",
        [&] { return quil.GetProcessInterfaces(); },
        ProcessInterfaces{true, true, 3, false, "192.0.2.10", 70000, 1});
    Expect(
        "ProcessInterfacesMeta",
        R"({"availableRTEthProtocols":[{"id":0,"name":"a"},{"id":1,"name":"b"}]})",
        [&] { return quil.GetProcessInterfacesMeta(); },
        ProcessInterfacesMeta{{{0, "a"}, {1, "b"}}, {}});
    Expect(
        "ProcessInterfacesMeta",
        R"({"availableRTEthProtocols":[],"iolProcessDataLayouts":[{"id":2.5,"name":"c"},{"id":true,"name":""}]})",
        [&] { return quil.GetProcessInterfacesMeta(); },
        ProcessInterfacesMeta{{}, {{2, "c"}, {1, ""}}});
    Expect(
        "UDPMeta", R"({"data":[{"id":0,"name":"a"}]})", [&] { return quil.GetUDPMeta(); },
        UDPMeta{{{0, "a"}}});
    Expect(
        "UDPStreamData", R"({"enabledDataIDs":[1,3]})", [&] { return quil.GetUDPStreamData(); },
        UDPStreamData{{1, 3}});
    Expect(
        "UDPStreamData", R"({"enabledDataIDs":[]})", [&] { return quil.GetUDPStreamData(); },
        UDPStreamData{});
}

TEST_F(ConfigurationReadTest, LaserPowerAndExposureTime) {
    Expect(
        "LaserPower", R"({"Factor":0.5})", [&] { return quil.GetLaserPower(); }, 0.5);
    Expect(
        "LaserPower", R"({"Factor":1})", [&] { return quil.GetLaserPower(); }, 1.0);
    Expect(
        "LaserPowerMeta", R"({"FactorUnit":"x","FactorPrec":0.1})",
        [&] { return quil.GetLaserPowerMeta(); }, LaserPowerMeta{"x", 0.1});
    Expect(
        "LaserPowerLimits",
        R"({"minFactor":0.1,"maxFactor":1.0,"predefinedFactors":[0.25,0.5,1.0]})",
        [&] { return quil.GetLaserPowerLimits(); }, LaserPowerLimits{0.1, 1.0, {0.25, 0.5, 1.0}});
    Expect(
        "LaserPowerLimits", R"({"minFactor":0,"maxFactor":1,"predefinedFactors":[]})",
        [&] { return quil.GetLaserPowerLimits(); }, LaserPowerLimits{0.0, 1.0, {}});
    Expect(
        "ExposureTime", R"({"ExposureTime":500})", [&] { return quil.GetExposureTime(); }, 500u);
    Expect(
        "ExposureTime", R"({"ExposureTime":1.9})", [&] { return quil.GetExposureTime(); }, 1u);
    Expect(
        "ExposureTime", R"({"ExposureTime":true})", [&] { return quil.GetExposureTime(); }, 1u);
    Expect(
        "ExposureTime", R"({"ExposureTime":-0.9})", [&] { return quil.GetExposureTime(); }, 0u);
    Expect(
        "ExposureTime", R"({"ExposureTime":4294967295.5})", [&] { return quil.GetExposureTime(); },
        4294967295u);
    Expect(
        "ExposureTimeLimits", R"({"minTime":10,"maxTime":100000})",
        [&] { return quil.GetExposureTimeLimits(); }, ExposureTimeLimits{10, 100000});
    Expect(
        "ExposureTimeMeta", R"({"timeUnit":"y"})", [&] { return quil.GetExposureTimeMeta(); },
        ExposureTimeMeta{"y"});
}

TEST_F(ConfigurationReadTest, ResolutionResamplingAndFilter) {
    Expect(
        "Resolution", R"({"xResolution":2,"zResolution":1})", [&] { return quil.GetResolution(); },
        Resolution{2, 1});
    Expect(
        "ResolutionLimits", R"({"xResolution":[1,2,4],"zResolution":[1,2]})",
        [&] { return quil.GetResolutionLimits(); }, ResolutionLimits{{1, 2, 4}, {1, 2}});
    Expect(
        "ResolutionLimits", R"({"xResolution":[],"zResolution":[]})",
        [&] { return quil.GetResolutionLimits(); }, ResolutionLimits{});
    Expect(
        "Resampling", R"({"enabled":true,"gridValue":0.05})", [&] { return quil.GetResampling(); },
        Resampling{true, 0.05});
    Expect(
        "Resampling", R"({"enabled":true})", [&] { return quil.GetResamplingEnabled(); }, true);
    Expect(
        "ResamplingMeta", R"({"gridUnit":"u","gridPrec":2.9,"minGridValue":0.01,"maxGridValue":1})",
        [&] { return quil.GetResamplingMeta(); }, ResamplingMeta{"u", 2, 0.01, 1.0});
    Expect(
        "ProfileFilter", R"({"movingAverageEnabled":true,"movingAverageLength":5})",
        [&] { return quil.GetProfileFilter(); }, ProfileFilter{true, 5});
    Expect(
        "ProfileFilter", R"({"movingAverageEnabled":false})",
        [&] { return quil.GetProfileFilterEnabled(); }, false);
    Expect(
        "ProfileFilterMeta", R"({"movingAverageMinimumLength":2,"movingAverageMaximumLength":64})",
        [&] { return quil.GetProfileFilterMeta(); }, ProfileFilterMeta{2, 64});
}

TEST_F(ConfigurationReadTest, ProfileAlgorithm) {
    Expect(
        "ProfileAlgorithm", R"({"algorithmID":1})", [&] { return quil.GetProfileAlgorithm(); }, 1u);
    Expect(
        "ProfileAlgorithmMeta", R"({"algorithms":[{"id":0,"name":"a"},{"id":1,"name":"b"}]})",
        [&] { return quil.GetProfileAlgorithmMeta(); }, ProfileAlgorithmMeta{{{0, "a"}, {1, "b"}}});
    Expect(
        "ProfileAlgorithmParamsMeta",
        R"({"minPeakHeightUnit":"u","minPeakWidthUnit":"v","thresholdValueUnit":"w"})",
        [&] { return quil.GetProfileAlgorithmParamsMeta(); },
        ProfileAlgorithmParamsMeta{"u", "v", "w"});
    // The reply's "algorithmID" is only required, whatever it holds.
    Expect(
        "ProfileAlgorithmParams",
        R"({"algorithmID":"one","params":{"minPeakHeight":10,"minPeakWidth":2,"thresholdValue":50,"thresholdTypeID":0}})",
        [&] { return quil.GetProfileAlgorithmParams(2); }, ProfileAlgorithmParams{10, 2, 50, 0},
        json{{"algorithmID", 2}});
    // Elements beyond the second of a range are ignored; the reply's id is returned.
    Expect(
        "ProfileAlgorithmParamsLimits",
        R"({"algorithmID":3,"limits":{"minPeakHeight":[0,255],"minPeakWidth":[1,20,30],
               "thresholdValue":[0,100],"thresholdType":[{"typeID":0,"typeName":"a"},{"typeID":1,"typeName":"b"}]}})",
        [&] { return quil.GetProfileAlgorithmParamsLimits(1); },
        ProfileAlgorithmParamsLimits{3, {{0, 255}, {1, 20}, {0, 100}, {{0, "a"}, {1, "b"}}}},
        json{{"algorithmID", 1}});
}

TEST_F(ConfigurationReadTest, AxesAndFieldOfView) {
    Expect(
        "AxesMeta", R"({"zAxisDefinitions":[{"id":0,"name":"a"},{"id":1,"name":"b"}]})",
        [&] { return quil.GetAxesMeta(); }, AxesMeta{{{0, "a"}, {1, "b"}}});
    Expect(
        "AxesMeta", R"({"zAxisDefinitions":null})", [&] { return quil.GetAxesMeta(); }, AxesMeta{});
    Expect(
        "Axes", R"({"zAxisDefinitionID":2})", [&] { return quil.GetAxes(); }, 2u);
    Expect(
        "FoV", R"({"limitLeft":-10,"limitRight":10.5,"offset":0.5,"height":20})",
        [&] { return quil.GetFoV(); }, FoV{-10.0, 10.5, 0.5, 20.0});
    Expect(
        "FoVDistance", R"({"limitLeft":-5,"limitRight":5,"near":30,"far":60})",
        [&] { return quil.GetFoVDistance(); }, FoVDistance{-5.0, 5.0, 30.0, 60.0});
    Expect(
        "FoVLimits",
        R"({"maxXMinus":1,"maxXPlus":2,"minWidth":3,"minHeight":4,"maxHeight":5,"minDistance":6,"maxDistance":7.5})",
        [&] { return quil.GetFoVLimits(); }, FoVLimits{1, 2, 3, 4, 5, 6, 7.5});
    Expect(
        "FoVMeta", R"({"xUnit":"x","zUnit":"z","xPrec":2.7,"zPrec":3})",
        [&] { return quil.GetFoVMeta(); }, FoVMeta{"x", "z", 2, 3});
}

// --- Failures ------------------------------------------------------------------------------

// A read and the reply it gets; the failure rows say how the read then fails.
struct ReadAndReply {
    const char* name;
    std::function<void(Quil&)> read;
    const char* body;
};
using ReadFailure = Testing::FailureRow<ReadAndReply>;

class ConfigurationFailureTest : public Testing::FakeClientTest,
                                 public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(ConfigurationFailureTest, ReportsTheFirstProblemExactly) {
    const ReadAndReply& exchange = GetParam().input;
    channel->Ack(json::parse(exchange.body));
    EXPECT_TRUE(Testing::Fails([&] { exchange.read(quil); }, GetParam()));
}

constexpr const char* kNumberButString =
    "[json.exception.type_error.302] type must be number, but is string";

#define READ(op) [](Quil& q) { q.op; }

INSTANTIATE_TEST_SUITE_P(
    Reads, ConfigurationFailureTest,
    ::testing::Values(
        ReadFailure{{"EmptyObject", READ(GetLaserPower()), "{}"}, Failure::Empty, ""},
        ReadFailure{{"EmptyArray", READ(GetNetwork()), "[]"}, Failure::Empty, ""},
        ReadFailure{
            {"ProcessInterfacesEmpty", READ(GetProcessInterfaces()), "{}"}, Failure::Empty, ""},
        ReadFailure{{"NumberBodyNamesFirstKey", READ(GetExposureTimeLimits()), "7"},
                    Failure::Missing,
                    "minTime"},
        ReadFailure{{"PresenceBeforeConversion", READ(GetNetwork()),
                     R"({"useDHCP":"yes","staticIP":"","subnetMask":"","macAdress":""})"},
                    Failure::Missing,
                    "gateway"},
        ReadFailure{{"MacAdressRequired", READ(GetNetwork()),
                     R"({"useDHCP":true,"staticIP":"","subnetMask":"","gateway":""})"},
                    Failure::Missing,
                    "macAdress"},
        ReadFailure{{"FactorUnderItsOwnKey", READ(GetLaserPower()), R"({"LaserPower":0.5})"},
                    Failure::Missing,
                    "Factor"},
        ReadFailure{{"LimitsPresenceFirst", READ(GetLaserPowerLimits()),
                     R"({"minFactor":"0.1","predefinedFactors":[]})"},
                    Failure::Missing,
                    "maxFactor"},
        ReadFailure{{"ListInsteadOfValue", READ(GetResolution()),
                     R"({"xResolution":[1,2],"zResolution":1})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be number, but is array"},
        ReadFailure{{"ValueInsteadOfList", READ(GetResolutionLimits()),
                     R"({"xResolution":2,"zResolution":[1]})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be array, but is number"},
        ReadFailure{{"BooleanAsNumber", READ(GetNetwork()),
                     R"({"useDHCP":1,"staticIP":"","subnetMask":"","gateway":"","macAdress":""})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be boolean, but is number"},
        ReadFailure{
            {"BooleanIntoDouble", READ(GetResampling()), R"({"enabled":true,"gridValue":true})"},
            Failure::Type,
            "[json.exception.type_error.302] type must be number, but is boolean"},
        ReadFailure{{"NullValue", READ(GetExposureTime()), R"({"ExposureTime":null})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be number, but is null"},
        ReadFailure{
            {"ServerNotAString", READ(GetTimeserver()), R"({"useNTP":true,"ntpServers":["a",1]})"},
            Failure::Type,
            "[json.exception.type_error.302] type must be string, but is number"},
        ReadFailure{
            {"ResamplingEnabledOnlyNeedsItsKey", READ(GetResampling()), R"({"enabled":true})"},
            Failure::Missing,
            "gridValue"},
        ReadFailure{{"FilterEnabledOnlyNeedsItsKey", READ(GetProfileFilter()),
                     R"({"movingAverageEnabled":false})"},
                    Failure::Missing,
                    "movingAverageLength"},
        ReadFailure{{"ProcessInterfacesNotAnObject", READ(GetProcessInterfaces()), "[1]"},
                    Failure::Type,
                    "[json.exception.type_error.306] cannot use value() with array"},
        ReadFailure{{"ProcessInterfacesWrongType", READ(GetProcessInterfaces()),
                     R"({"udpDestinationPort":"5000"})"},
                    Failure::Type,
                    kNumberButString},
        ReadFailure{{"MetaListRequired", READ(GetProcessInterfacesMeta()),
                     R"({"iolProcessDataLayouts":[]})"},
                    Failure::Missing,
                    "availableRTEthProtocols"},
        ReadFailure{{"EntryIdBeforeName", READ(GetUDPMeta()), R"({"data":[{"x":1}]})"},
                    Failure::Missing,
                    "id"},
        ReadFailure{{"EntryWithoutName", READ(GetProcessInterfacesMeta()),
                     R"({"availableRTEthProtocols":[{"id":0,"name":"a"},{"id":1}]})"},
                    Failure::Missing,
                    "name"},
        ReadFailure{{"EntryNameNotAString", READ(GetUDPMeta()), R"({"data":[{"id":0,"name":5}]})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be string, but is number"},
        ReadFailure{{"DataIdsNotAList", READ(GetUDPStreamData()), R"({"enabledDataIDs":{}})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be array, but is object"},
        ReadFailure{
            {"ParamsWithoutAlgorithmId", READ(GetProfileAlgorithmParams(1)),
             R"({"params":{"minPeakHeight":1,"minPeakWidth":1,"thresholdValue":1,"thresholdTypeID":1}})"},
            Failure::Missing,
            "algorithmID"},
        ReadFailure{
            {"ParamsInnerKey", READ(GetProfileAlgorithmParams(1)),
             R"({"algorithmID":1,"params":{"minPeakHeight":"x","minPeakWidth":1,"thresholdValue":1}})"},
            Failure::Missing,
            "thresholdTypeID"},
        ReadFailure{{"ParamsNotAnObject", READ(GetProfileAlgorithmParams(1)),
                     R"({"algorithmID":1,"params":7})"},
                    Failure::Missing,
                    "minPeakHeight"},
        ReadFailure{
            {"LimitsMissing", READ(GetProfileAlgorithmParamsLimits(1)), R"({"algorithmID":1})"},
            Failure::Missing,
            "limits"},
        ReadFailure{{"ThresholdTypeWithoutName", READ(GetProfileAlgorithmParamsLimits(1)),
                     R"({"algorithmID":"x","limits":{"minPeakHeight":[0,1],"minPeakWidth":[0,1],
                    "thresholdValue":[0,1],"thresholdType":[{"typeID":0}]}})"},
                    Failure::Missing,
                    "typeName"},
        ReadFailure{{"ThresholdTypesWalkedBeforeTheId", READ(GetProfileAlgorithmParamsLimits(1)),
                     R"({"algorithmID":"x","limits":{"minPeakHeight":[0,1],"minPeakWidth":[0,1],
                    "thresholdValue":[0,1],"thresholdType":[{"typeID":0,"typeName":5}]}})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be string, but is number"},
        ReadFailure{{"AlgorithmIdBeforeRanges", READ(GetProfileAlgorithmParamsLimits(1)),
                     R"({"algorithmID":"x","limits":{"minPeakHeight":5,"minPeakWidth":[0,1],
                    "thresholdValue":[0,1],"thresholdType":[]}})"},
                    Failure::Type,
                    kNumberButString},
        ReadFailure{{"ShortRange", READ(GetProfileAlgorithmParamsLimits(1)),
                     R"({"algorithmID":1,"limits":{"minPeakHeight":[0,1],"minPeakWidth":[5],
                    "thresholdValue":[0,1],"thresholdType":[]}})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be number, but is null"},
        ReadFailure{{"NullRange", READ(GetProfileAlgorithmParamsLimits(1)),
                     R"({"algorithmID":1,"limits":{"minPeakHeight":null,"minPeakWidth":[0,1],
                    "thresholdValue":[0,1],"thresholdType":[]}})"},
                    Failure::Type,
                    "[json.exception.type_error.302] type must be number, but is null"},
        ReadFailure{{"RangeNotAnArray", READ(GetProfileAlgorithmParamsLimits(1)),
                     R"({"algorithmID":1,"limits":{"minPeakHeight":[0,1],"minPeakWidth":[0,1],
                    "thresholdValue":5,"thresholdType":[]}})"},
                    Failure::Type,
                    "[json.exception.type_error.305] cannot use operator[] with a numeric argument "
                    "with number"},
        ReadFailure{
            {"ExposureTimeBeyondTheField", READ(GetExposureTime()), R"({"ExposureTime":1e300})"},
            Failure::Type,
            "[json.exception.type_error.302] number out of range for ExposureTime: 1e+300"},
        ReadFailure{{"ExposureTimeNegative", READ(GetExposureTime()), R"({"ExposureTime":-1.5})"},
                    Failure::Type,
                    "[json.exception.type_error.302] number out of range for ExposureTime: -1.5"},
        ReadFailure{{"LimitBeyondTheField", READ(GetExposureTimeLimits()),
                     R"({"minTime":0,"maxTime":4294967296})"},
                    Failure::Type,
                    "[json.exception.type_error.302] number out of range for maxTime: 4294967296"},
        ReadFailure{
            {"AbsentDefaultsButPresentIsChecked", READ(GetProcessInterfaces()),
             R"({"udpDestinationPort":-1})"},
            Failure::Type,
            "[json.exception.type_error.302] number out of range for udpDestinationPort: -1"},
        ReadFailure{{"ListElementBeyondTheField", READ(GetUDPStreamData()),
                     R"({"enabledDataIDs":[1,1e10]})"},
                    Failure::Type,
                    "[json.exception.type_error.302] number out of range for enabledDataIDs: "
                    "10000000000.0"},
        ReadFailure{{"RangeBeyondTheField", READ(GetProfileAlgorithmParamsLimits(1)),
                     R"({"algorithmID":1,"limits":{"minPeakHeight":[0,1],"minPeakWidth":[0,1e200],
                    "thresholdValue":[0,1],"thresholdType":[]}})"},
                    Failure::Type,
                    "[json.exception.type_error.302] number out of range for minPeakWidth: 1e+200"},
        ReadFailure{
            {"EntryIdBeyondTheField", READ(GetUDPMeta()), R"({"data":[{"id":-3,"name":"a"}]})"},
            Failure::Type,
            "[json.exception.type_error.302] number out of range for id: -3"},
        ReadFailure{{"FoVKeysOfTheOtherResource", READ(GetFoV()),
                     R"({"limitLeft":0,"limitRight":0,"near":1,"far":2})"},
                    Failure::Missing,
                    "offset"},
        ReadFailure{
            {"FoVLimitsPresenceFirst", READ(GetFoVLimits()),
             R"({"maxXMinus":"a","maxXPlus":0,"minWidth":0,"minHeight":0,"minDistance":0,"maxDistance":0})"},
            Failure::Missing,
            "maxHeight"},
        ReadFailure{{"AxesListOfNumbers", READ(GetAxesMeta()), R"({"zAxisDefinitions":5})"},
                    Failure::Missing,
                    "id"}),
    [](const ::testing::TestParamInfo<ReadFailure>& info) {
        return std::string(info.param.input.name);
    });

#undef READ

}  // namespace
}  // namespace Varkon::QUILApi

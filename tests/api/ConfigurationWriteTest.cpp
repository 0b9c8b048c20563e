// Writes of the configuration resources: the exact bodies they send, the record overloads and
// the read-modify-write of the process interfaces.
#include "support/ExpectThrow.h"
#include "support/FakeClient.h"

#include <gmock/gmock.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Throws;

struct WriteCase {
    const char* name;
    std::function<void(Quil&)> write;
    const char* msgData;  // as sent: keys in ascending order, doubles with a fraction
};

class ConfigurationWriteTest : public Testing::FakeClientTest,
                               public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ConfigurationWriteTest, SendsExactlyThisBody) {
    channel->Ack();
    GetParam().write(quil);
    ASSERT_EQ(channel->requests.size(), 1u);
    EXPECT_EQ(MsgData(), GetParam().msgData);
}

#define WRITE(op) [](Quil& q) { q.op; }

INSTANTIATE_TEST_SUITE_P(
    Writes, ConfigurationWriteTest,
    ::testing::Values(
        WriteCase{
            "Network", WRITE(SetNetwork(false, "192.0.2.20", "255.255.255.0", "192.0.2.1")),
            R"(["Network",{"gateway":"192.0.2.1","staticIP":"192.0.2.20","subnetMask":"255.255.255.0","useDHCP":false}])"},
        WriteCase{"NetworkRecordNeverSendsMacAdress",
                  WRITE(SetNetwork(Network{true, "", "", "", "00-00-5E-00-53-01"})),
                  R"(["Network",{"gateway":"","staticIP":"","subnetMask":"","useDHCP":true}])"},
        WriteCase{"Timeserver", WRITE(SetTimeserver(true, {"192.0.2.123"})),
                  R"(["Timeserver",{"ntpServers":["192.0.2.123"],"useNTP":true}])"},
        WriteCase{"TimeserverWithoutServers", WRITE(SetTimeserver(Timeserver{true, {}})),
                  R"(["Timeserver",{"ntpServers":[],"useNTP":true}])"},
        WriteCase{"UDPStreamData", WRITE(SetUDPStreamData(UDPStreamData{{0, 2}})),
                  R"(["UDPStreamData",{"enabledDataIDs":[0,2]}])"},
        WriteCase{"UDPStreamDataEmpty", WRITE(SetUDPStreamData(UDPStreamData{})),
                  R"(["UDPStreamData",{"enabledDataIDs":[]}])"},
        WriteCase{"LaserPower", WRITE(SetLaserPower(0.75)), R"(["LaserPower",{"Factor":0.75}])"},
        WriteCase{"LaserPowerWholeNumber", WRITE(SetLaserPower(1.0)),
                  R"(["LaserPower",{"Factor":1.0}])"},
        WriteCase{"ExposureTime", WRITE(SetExposureTime(500)),
                  R"(["ExposureTime",{"ExposureTime":500}])"},
        WriteCase{"ExposureTimeLargest", WRITE(SetExposureTime(4294967295u)),
                  R"(["ExposureTime",{"ExposureTime":4294967295}])"},
        WriteCase{"Resolution", WRITE(SetResolution(2, 1)),
                  R"(["Resolution",{"xResolution":2,"zResolution":1}])"},
        WriteCase{"Resampling", WRITE(SetResampling(true, 0.05)),
                  R"(["Resampling",{"enabled":true,"gridValue":0.05}])"},
        WriteCase{"ResamplingWholeNumber", WRITE(SetResampling(Resampling{false, 1.0})),
                  R"(["Resampling",{"enabled":false,"gridValue":1.0}])"},
        WriteCase{"ProfileFilter", WRITE(SetProfileFilter(true, 5)),
                  R"(["ProfileFilter",{"movingAverageEnabled":true,"movingAverageLength":5}])"},
        WriteCase{"ProfileAlgorithm", WRITE(SetProfileAlgorithm(1)),
                  R"(["ProfileAlgorithm",{"algorithmID":1}])"},
        WriteCase{
            "ProfileAlgorithmParams", WRITE(SetProfileAlgorithmParams(1, 10, 2, 50, 0)),
            R"(["ProfileAlgorithmParams",{"algorithmID":1,"params":{"minPeakHeight":10,"minPeakWidth":2,"thresholdTypeID":0,"thresholdValue":50}}])"},
        WriteCase{"Axes", WRITE(SetAxes(0)), R"(["Axes",{"zAxisDefinitionID":0}])"},
        WriteCase{"FoV", WRITE(SetFoV(-10.0, 10.0, 0.5, 20.0)),
                  R"(["FoV",{"height":20.0,"limitLeft":-10.0,"limitRight":10.0,"offset":0.5}])"},
        WriteCase{"FoVDistance", WRITE(SetFoVDistance(FoVDistance{-5.0, 5.0, 30.0, 60.0})),
                  R"(["FoVDistance",{"far":60.0,"limitLeft":-5.0,"limitRight":5.0,"near":30.0}])"}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

#undef WRITE

// --- Record overloads --------------------------------------------------------------------

// Records every call of a field overload, so that the record overloads can be seen to go
// through the interface rather than around it.
class ForwardingSpy : public QuilApi {
public:
    ForwardingSpy() : QuilApi(nullptr, nullptr) {}
    std::vector<std::string> calls;

    void SetNetwork(const bool& d, const std::string& ip, const std::string& mask,
                    const std::string& gw) override {
        Record("Network", {d, ip, mask, gw});
    }
    void SetTimeserver(const bool& ntp, const std::vector<std::string>& servers) override {
        Record("Timeserver", {ntp, servers});
    }
    void SetProcessInterfaces(const bool& a, const bool& b, const uint32_t& c, const bool& d,
                              const std::string& e, const uint32_t& f, const uint32_t& g) override {
        Record("ProcessInterfaces", {a, b, c, d, e, f, g});
    }
    void SetResolution(const uint32_t& x, const uint32_t& z) override {
        Record("Resolution", {x, z});
    }
    void SetResampling(const bool& enabled, const double& grid) override {
        Record("Resampling", {enabled, grid});
    }
    void SetProfileFilter(const bool& enabled, const uint32_t& length) override {
        Record("ProfileFilter", {enabled, length});
    }
    void SetProfileAlgorithmParams(const uint32_t& id, const uint32_t& a, const uint32_t& b,
                                   const uint32_t& c, const uint32_t& d) override {
        Record("ProfileAlgorithmParams", {id, a, b, c, d});
    }
    void SetFoV(const double& a, const double& b, const double& c, const double& d) override {
        Record("FoV", {a, b, c, d});
    }
    void SetFoVDistance(const double& a, const double& b, const double& c,
                        const double& d) override {
        Record("FoVDistance", {a, b, c, d});
    }
    using QuilApi::SetFoV;
    using QuilApi::SetFoVDistance;
    using QuilApi::SetNetwork;
    using QuilApi::SetProcessInterfaces;
    using QuilApi::SetProfileAlgorithmParams;
    using QuilApi::SetProfileFilter;
    using QuilApi::SetResampling;
    using QuilApi::SetResolution;
    using QuilApi::SetTimeserver;

private:
    void Record(const char* name, const json& arguments) {
        calls.push_back(name + arguments.dump());
    }
};

TEST(ConfigurationRecordOverloadTest, ForwardFieldsInRecordOrderThroughTheInterface) {
    ForwardingSpy spy;
    Quil& quil = spy;
    quil.SetNetwork(Network{true, "a", "b", "c", "mac"});
    quil.SetTimeserver(Timeserver{false, {"s1", "s2"}});
    quil.SetProcessInterfaces(ProcessInterfaces{true, false, 3, true, "ip", 70000, 4});
    quil.SetResolution(Resolution{2, 1});
    quil.SetResampling(Resampling{true, 0.5});
    quil.SetProfileFilter(ProfileFilter{true, 7});
    quil.SetProfileAlgorithmParams(9, ProfileAlgorithmParams{1, 2, 3, 4});
    quil.SetFoV(FoV{-1.5, 1.5, 0.25, 8.0});
    quil.SetFoVDistance(FoVDistance{-2.0, 2.0, 30.0, 60.0});
    EXPECT_THAT(spy.calls, ::testing::ElementsAre(
                               R"(Network[true,"a","b","c"])", R"(Timeserver[false,["s1","s2"]])",
                               R"(ProcessInterfaces[true,false,3,true,"ip",70000,4])",
                               "Resolution[2,1]", "Resampling[true,0.5]", "ProfileFilter[true,7]",
                               "ProfileAlgorithmParams[9,1,2,3,4]", "FoV[-1.5,1.5,0.25,8.0]",
                               "FoVDistance[-2.0,2.0,30.0,60.0]"));
}

// --- Read-modify-write of the process interfaces -----------------------------------------

class ProcessInterfacesWriteTest : public Testing::FakeClientTest {};

TEST_F(ProcessInterfacesWriteTest, ReplacesTheSevenMembersAndKeepsTheRest) {
    channel->Ack(json::parse(R"({"enableModbus":true,"enableOPCUA":false,"realtimeProtocolID":0,
        "enableUDPStreaming":false,"udpDestinationIP":"","udpDestinationPort":0,
        "iolProcessDataLayout":0,"extra":7})"));
    channel->Ack();
    quil.SetProcessInterfaces(false, true, 3, true, "192.0.2.10", 5000, 1);
    ASSERT_EQ(channel->requests.size(), 2u);
    EXPECT_EQ(MsgData(0), R"(["ProcessInterfaces"])");
    EXPECT_EQ(
        MsgData(1),
        R"(["ProcessInterfaces",{"enableModbus":false,"enableOPCUA":true,"enableUDPStreaming":true,"extra":7,"iolProcessDataLayout":1,"realtimeProtocolID":3,"udpDestinationIP":"192.0.2.10","udpDestinationPort":5000}])");
}

TEST_F(ProcessInterfacesWriteTest, EmptyReadBodiesGetTheSevenMembers) {
    for (const json& read : {json::object(), json()}) {
        channel->requests.clear();
        channel->Answer({{"msgType", "ACK"}, {"msgData", {"ProcessInterfaces", read}}});
        channel->Ack();
        quil.SetProcessInterfaces(ProcessInterfaces{false, false, 0, true, "h", 70000, 0});
        ASSERT_EQ(channel->requests.size(), 2u) << read.dump();
        EXPECT_EQ(
            MsgData(1),
            R"(["ProcessInterfaces",{"enableModbus":false,"enableOPCUA":false,"enableUDPStreaming":true,"iolProcessDataLayout":0,"realtimeProtocolID":0,"udpDestinationIP":"h","udpDestinationPort":70000}])");
    }
}

TEST_F(ProcessInterfacesWriteTest, AnArrayBodyFailsAndNothingIsSent) {
    channel->Ack(json::array({1}));
    EXPECT_TRUE(Throws<json::type_error>(
        [&] { quil.SetProcessInterfaces(false, false, 0, false, "", 0, 0); },
        "[json.exception.type_error.305] cannot use operator[] with a string argument with array"));
    EXPECT_EQ(channel->requests.size(), 1u);
}

TEST_F(ProcessInterfacesWriteTest, AFailedReadSendsNothing) {
    channel->Answer(json::parse(
        R"({"msgType":"ERR","msgData":["ProcessInterfaces",{"errorCode":"Forbidden"}]})"));
    EXPECT_THROW(quil.SetProcessInterfaces(false, false, 0, false, "", 0, 0), std::exception);
    EXPECT_EQ(channel->requests.size(), 1u);
}

}  // namespace
}  // namespace Varkon::QUILApi

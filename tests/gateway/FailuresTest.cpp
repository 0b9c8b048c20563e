// A sensor's failures as the gateway's lines word them: what happened, where and what to do.
#include "Failures.h"
#include "support/TestAddresses.h"

#include <gtest/gtest.h>

namespace Varkon::QuilGateway::Testing {
namespace {

using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;

TEST(FailuresTest, TheLibrarysTextsBecomeWhatWhereAndWhatToDo) {
    SensorSettings sensor;
    sensor.name = "left";
    // Nothing listens there: a connection is refused at once.
    const std::string host = TestAddress(0);
    const std::string port = std::to_string(TestPort(0));
    sensor.host = host + ":" + port;
    sensor.udpPort = 5000;
    sensor.role = "operator";
    const struct {
        std::string text;
        std::string words;
    } cases[] = {
        // The request's number changes on every attempt; the words do not.
        {"No matching response found to request with sessionID: 6 msgID: 38",
         "no answer from " + host + " port " + port +
             " in time (is the sensor on, and is this its address?)"},
        {"No matching response found to request with sessionID: 7 msgID: 51",
         "no answer from " + host + " port " + port +
             " in time (is the sensor on, and is this its address?)"},
        {"Could not connect to host " + host,
         "could not connect to " + host + " port " + port +
             ": connection refused (nothing accepts connections there; check the address and the "
             "port)"},
        {"UdpTransport::Open Error: bind: Address already in use",
         "cannot receive its stream on UDP port 5000: another program uses it; give the sensor "
         "another udp_port"},
        {"SET returned an error: You password was wrong for role <operator>",
         "wrong password for role \"operator\" (check its password_file)"},
        {"SET returned an error: Your role is already used by <127.0.0.9:4711>",
         "role \"operator\" is held by another session (127.0.0.9:4711); it must log out first"},
        {"its settings from left.json were refused: SET returned an error: Your role is not "
         "allowed to access resource <ExposureTime>, you need role <maintenance>",
         "its settings from left.json were refused: role \"operator\" may not change "
         "\"ExposureTime\"; it needs role \"maintenance\" (role: maintenance)"},
        {"Could not restore the sensor's process interfaces: No matching response found to "
         "request with sessionID: 6 msgID: 40",
         "could not put its UDP output back: no answer from " + host + " port " + port +
             "; its UDP output may still be aimed at this host (see quil get "
             "process-interfaces)"},
        {"something else", "something else"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ExplainSensorFailure(c.text, sensor, std::chrono::milliseconds(2000)), c.words);
    }
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

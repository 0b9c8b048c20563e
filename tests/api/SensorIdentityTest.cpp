#include "api/QuilApi.h"
#include "support/ExpectThrow.h"
#include "support/FakeChannel.h"
#include "support/FakeClient.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::FakeChannel;
using Testing::Throws;

const json kAll = {{"vendorName", "V"},           {"sensorType", "T"},
                   {"serialNumber", "S"},         {"aggregateVersion", "1.4"},
                   {"ifaceCtrlVersion", "2.1.0"}, {"measCtrlVersion", "3.4.1"},
                   {"lasCtrlVersion", "1.0.7"}};

json Without(std::initializer_list<const char*> keys) {
    json data = kAll;
    for (const char* key : keys) {
        data.erase(key);
    }
    return data;
}

json With(const char* key, json value) {
    json data = kAll;
    data[key] = std::move(value);
    return data;
}

class SensorIdentityTest : public Testing::FakeClientTest {
protected:
    SensorMetaData Read(const json& data) {
        channel->Ack(data);
        return client.GetSensorMetaData();
    }
};

TEST_F(SensorIdentityTest, VersionsFallBackAsOneGroup) {
    struct Case {
        json data;
        const char* aggregate;
        const char* controllers;
    };
    const Case cases[] = {
        {kAll, "1.4", "I:2.1.0,M:3.4.1,L:1.0.7"},
        {Without({"aggregateVersion", "ifaceCtrlVersion", "measCtrlVersion", "lasCtrlVersion"}),
         "-", "I:-,M:-,L:-"},
        {With("aggregateVersion", 14), "-", "I:2.1.0,M:3.4.1,L:1.0.7"},
        {Without({"ifaceCtrlVersion"}), "1.4", "I:-,M:-,L:-"},
        {Without({"measCtrlVersion"}), "1.4", "I:2.1.0,M:-,L:-"},
        {Without({"lasCtrlVersion"}), "1.4", "I:2.1.0,M:3.4.1,L:-"},
        {With("measCtrlVersion", nullptr), "1.4", "I:2.1.0,M:-,L:-"},
        {With("ifaceCtrlVersion", ""), "1.4", "I:,M:3.4.1,L:1.0.7"},
    };
    for (const auto& c : cases) {
        const auto identity = Read(c.data);
        EXPECT_EQ(identity, (SensorMetaData{"T", "S", "V", c.aggregate, c.controllers}))
            << c.data.dump();
    }
    EXPECT_EQ(channel->requests.back(),
              R"({"msgData":["SensorMetaData"],"msgID":8,"msgType":"GET","sessionID":0})");
}

TEST_F(SensorIdentityTest, RequiredKeysAreCheckedInOrder) {
    EXPECT_TRUE(Throws<std::out_of_range>(
        [&] {
            Read(Without({"vendorName", "serialNumber"}));
        },
        "Field vendorName missing in response."));
    EXPECT_TRUE(Throws<std::out_of_range>([&] { Read(Without({"serialNumber"})); },
                                          "Field serialNumber missing in response."));
    EXPECT_TRUE(Throws<json::type_error>(
        [&] { Read(With("sensorType", 5)); },
        "[json.exception.type_error.302] type must be string, but is number"));
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { Read(json::object()); },
                                              "No response received (is null)."));
    EXPECT_TRUE(Throws<std::out_of_range>([&] { Read(json("text")); },
                                          "Field vendorName missing in response."));
}

}  // namespace
}  // namespace Varkon::QUILApi

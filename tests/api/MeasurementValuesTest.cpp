// Measurement values and their descriptions, through a channel without network.
#include "api/QuilApi.h"
#include "support/FakeChannel.h"
#include "support/FakeClient.h"
#include "support/JsonCases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::FakeChannel;
using Testing::With;
using Testing::Without;

constexpr double kInf = std::numeric_limits<double>::infinity();

const json kValues = {{"qualityID", 1},
                      {"configmode", false},
                      {"valuesAreValid", true},
                      {"alarm", false},
                      {"digitalOuts", {true, false, true}},
                      {"EncoderValue", 42},
                      {"measrate", 100},
                      {"timestamp", {3, 250000}},
                      {"values", {1.5, "INF", 3, "-INF", "n/a"}}};

const json kMeta = {
    {"timestampUnits", {"s", "us"}},
    {"qualityValues", {{{"id", 0}, {"name", "good"}}, {{"id", 2.7}, {"name", "bad"}}}},
    {"measrateUnit", "Hz"},
    {"measratePrec", 1}};

const json kTool = {{"toolID", 3},
                    {"modeName", "height"},
                    {"toolName", "Height 1"},
                    {"userDefinedName", "step"},
                    {"unit", "mm"},
                    {"prec", 0.001},
                    {"min", -10},
                    {"max", 10.5}};

using Testing::FailureCase;

class MeasurementValuesTest : public Testing::FakeClientTest {
protected:
    MeasurementValues Values(const json& data) {
        channel->Ack(data);
        return client.GetMeasurementValues();
    }
};

// Compares doubles so that NaN equals NaN.
bool SameValues(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) {
            return false;
        }
    }
    return true;
}

TEST_F(MeasurementValuesTest, WorkedExample) {
    const auto values = Values(kValues);
    EXPECT_EQ(values.qualityID, 1u);
    EXPECT_FALSE(values.configmode);
    EXPECT_TRUE(values.valuesAreValid);
    EXPECT_FALSE(values.alarm);
    EXPECT_EQ(values.digitalOuts, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(values.EncoderValue, 42u);
    EXPECT_EQ(values.measrate, 100.0);
    EXPECT_EQ(values.timestamp, 3250000u);
    ASSERT_EQ(values.values.size(), 5u);
    EXPECT_EQ(values.values[0], 1.5);
    EXPECT_EQ(values.values[1], kInf);
    EXPECT_EQ(values.values[2], 3.0);
    EXPECT_EQ(values.values[3], -kInf);
    EXPECT_TRUE(std::isnan(values.values[4]));
    EXPECT_EQ(channel->requests.front(),
              R"({"msgData":["MeasurementValues"],"msgID":1,"msgType":"GET","sessionID":0})");
}

TEST_F(MeasurementValuesTest, ValuesTextBecomesInfinityOrNaN) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        json values;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {json::array(), {}},
        {{"INF"}, {kInf}},
        {{"-INF"}, {-kInf}},
        {{"Inf"}, {nan}},
        {{"inf", "NaN", "", "-inf", " INF"}, {nan, nan, nan, nan, nan}},
        {{-2, 0, 4294967296.0, -1e300}, {-2, 0, 4294967296.0, -1e300}},
    };
    for (const auto& c : cases) {
        const auto read = Values(With(kValues, "/values", c.values));
        EXPECT_TRUE(SameValues(read.values, c.expected)) << c.values.dump();
    }
}

TEST_F(MeasurementValuesTest, ConvertsNumbersAndText) {
    EXPECT_EQ(Values(With(kValues, "/qualityID", true)).qualityID, 1u);
    EXPECT_EQ(Values(With(kValues, "/digitalOuts", json::array())).digitalOuts,
              std::vector<bool>{});
    EXPECT_EQ(Values(With(kValues, "/measrate", 99.5)).measrate, 99.5);
    struct Stamp {
        json timestamp;
        uint64_t expected;
    };
    const Stamp stamps[] = {
        {{3, 250000}, 3250000u},
        {{12, 345678}, 12345678u},
        {{0, 999999}, 999999u},
        {{1, 0}, 1000000u},
        {{7}, 7000007u},  // one element is both the first and the last
        {{1, 2, 3}, 1000003u},
        {{18446744073709ull, 551615}, 18446744073709551615ull},
        {{18446744073710ull, 0}, 448384u},  // 18446744073710000000 wraps modulo 2^64
    };
    for (const auto& s : stamps) {
        EXPECT_EQ(Values(With(kValues, "/timestamp", s.timestamp)).timestamp, s.expected)
            << s.timestamp.dump();
    }
}

TEST_F(MeasurementValuesTest, ReportsTheFirstFailure) {
    const std::string domain = "Field timestamp is not an array of at least one number.";
    const FailureCase cases[] = {
        {json::object(), Failure::Empty, ""},
        {Without(kValues, "/qualityID"), Failure::Missing, "qualityID"},
        {Without(Without(kValues, "/values"), "/alarm"), Failure::Missing, "alarm"},
        {Without(kValues, "/values"), Failure::Missing, "values"},
        {With(kValues, "/values", {1, true}), Failure::Type, "type must be number, but is boolean"},
        {With(kValues, "/values", {nullptr}), Failure::Type, "type must be number, but is null"},
        {With(kValues, "/values", {json::array()}), Failure::Type,
         "type must be number, but is array"},
        // "values" is walked before the other keys are converted.
        {With(With(kValues, "/values", {true}), "/configmode", 1), Failure::Type,
         "type must be number, but is boolean"},
        {With(kValues, "/configmode", 1), Failure::Type, "type must be boolean, but is number"},
        {With(kValues, "/alarm", nullptr), Failure::Type, "type must be boolean, but is null"},
        {With(kValues, "/digitalOuts", 5), Failure::Type, "type must be array, but is number"},
        {With(kValues, "/digitalOuts", {true, 1}), Failure::Type,
         "type must be boolean, but is number"},
        {With(kValues, "/EncoderValue", "1"), Failure::Type, "type must be number, but is string"},
        {With(kValues, "/measrate", true), Failure::Type, "type must be number, but is boolean"},
        {With(kValues, "/timestamp", {true, 1}), Failure::Type,
         "type must be number, but is boolean"},
        {With(kValues, "/timestamp", {1, "2"}), Failure::Type,
         "type must be number, but is string"},
        {With(kValues, "/timestamp", json::array()), Failure::Domain, domain},
        {With(kValues, "/timestamp", 5), Failure::Domain, domain},
        {With(kValues, "/timestamp", {{"s", 1}}), Failure::Domain, domain},
        {With(kValues, "/timestamp", nullptr), Failure::Domain, domain},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetMeasurementValues(); }, c.kind, c.text))
            << c.input.dump();
    }
}

TEST_F(MeasurementValuesTest, MeasurementMeta) {
    channel->Ack(kMeta);
    const MeasurementMeta expected{{"s", "us"}, {{0, "good"}, {2, "bad"}}, "Hz", 1};
    EXPECT_EQ(client.GetMeasurementMeta(), expected);
    EXPECT_EQ(channel->requests.back(),
              R"({"msgData":["MeasurementMeta"],"msgID":1,"msgType":"GET","sessionID":0})");

    const FailureCase cases[] = {
        {json::array(), Failure::Empty, ""},
        {Without(kMeta, "/timestampUnits"), Failure::Missing, "timestampUnits"},
        {Without(kMeta, "/measratePrec"), Failure::Missing, "measratePrec"},
        {Without(kMeta, "/qualityValues/1/name"), Failure::Missing, "name"},
        // The quality values are walked before "timestampUnits" is read.
        {With(Without(kMeta, "/qualityValues/0/id"), "/timestampUnits", 1), Failure::Missing, "id"},
        {With(kMeta, "/timestampUnits", 1), Failure::Type, "type must be array, but is number"},
        {With(kMeta, "/timestampUnits", {"s", 1}), Failure::Type,
         "type must be string, but is number"},
        {With(kMeta, "/measrateUnit", false), Failure::Type, "type must be string, but is boolean"},
        {With(kMeta, "/measratePrec", "1"), Failure::Type, "type must be number, but is string"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetMeasurementMeta(); }, c.kind, c.text))
            << c.input.dump();
    }
}

TEST_F(MeasurementValuesTest, MeasurementValuesMeta) {
    channel->Ack({{"types", {kTool, With(kTool, "/toolID", 4)}}});
    const MeasurementTypeEntry tool{3, "height", "Height 1", "step", "mm", 0.001, -10, 10.5};
    auto second = tool;
    second.toolID = 4;
    EXPECT_EQ(client.GetMeasurementValuesMeta(), (MeasurementValuesMeta{{tool, second}}));
    channel->Ack({{"types", json::array()}});
    EXPECT_EQ(client.GetMeasurementValuesMeta(), MeasurementValuesMeta{});
    EXPECT_EQ(channel->requests.back(),
              R"({"msgData":["MeasurementValuesMeta"],"msgID":2,"msgType":"GET","sessionID":0})");

    const FailureCase cases[] = {
        {json::object(), Failure::Empty, ""},
        {{{"type", json::array()}}, Failure::Missing, "types"},
        {{{"types", {Without(kTool, "/max")}}}, Failure::Missing, "max"},
        {{{"types", {Without(Without(kTool, "/max"), "/toolName")}}}, Failure::Missing, "toolName"},
        {{{"types", {kTool, Without(kTool, "/unit")}}}, Failure::Missing, "unit"},
        {{{"types", {With(kTool, "/prec", true)}}},
         Failure::Type,
         "type must be number, but is boolean"},
        {{{"types", {With(kTool, "/modeName", 1)}}},
         Failure::Type,
         "type must be string, but is number"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetMeasurementValuesMeta(); }, c.kind, c.text))
            << c.input.dump();
    }
}

}  // namespace
}  // namespace Varkon::QUILApi

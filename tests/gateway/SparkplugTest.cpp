// Sparkplug B payloads, decoded with the classes generated from sparkplug_b.proto; sequence
// numbers; which metrics a DDATA carries; topic names.
#include "Decode.h"
#include "MetricChanges.h"
#include "SparkplugPayloads.h"
#include "SparkplugSequence.h"
#include "SparkplugTopics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace Varkon::QuilGateway::Testing {
namespace {

TEST(SparkplugTest, NodeBirthAndDeathCarryTheBirthDeathSequence) {
    const Payload birth = Decode(EncodeNodeBirth(7, 1700000000123, "NCMD refused: x"));
    EXPECT_EQ(birth.timestamp(), 1700000000123u);
    ASSERT_TRUE(birth.has_seq());
    EXPECT_EQ(birth.seq(), 0u);
    ASSERT_EQ(birth.metrics_size(), 3);
    EXPECT_EQ(birth.metrics(0).name(), "bdSeq");
    EXPECT_EQ(birth.metrics(0).datatype(), 8u);  // UInt64
    EXPECT_EQ(birth.metrics(0).long_value(), 7u);
    EXPECT_EQ(birth.metrics(1).name(), "Node Control/Rebirth");
    EXPECT_EQ(birth.metrics(1).datatype(), 11u);  // Boolean
    ASSERT_TRUE(birth.metrics(1).has_boolean_value());
    EXPECT_FALSE(birth.metrics(1).boolean_value());
    EXPECT_EQ(birth.metrics(2).name(), "Node Control/Last Command");
    EXPECT_EQ(birth.metrics(2).string_value(), "NCMD refused: x");

    const Payload death = Decode(EncodeNodeDeath(7, 1700000000456));
    EXPECT_FALSE(death.has_seq());
    ASSERT_EQ(death.metrics_size(), 1);
    EXPECT_EQ(death.metrics(0).name(), "bdSeq");
    EXPECT_EQ(death.metrics(0).long_value(), 7u);
}

TEST(SparkplugTest, DeviceMetricsKeepTheirTypeAndValue) {
    const Metrics metrics{{"b", true},
                          {"i", int64_t{-5}},
                          {"u", uint64_t{1} << 40},
                          {"d", 2.5},
                          {"s", std::string("text")}};
    const Payload payload = Decode(EncodeDevicePayload(metrics, 42, 99));
    EXPECT_EQ(payload.seq(), 42u);
    EXPECT_EQ(payload.timestamp(), 99u);
    ASSERT_EQ(payload.metrics_size(), 5);
    const struct {
        uint32_t datatype;
        Payload::Metric::ValueCase value;
    } expected[] = {{11, Payload::Metric::kBooleanValue},
                    {4, Payload::Metric::kLongValue},
                    {8, Payload::Metric::kLongValue},
                    {10, Payload::Metric::kDoubleValue},
                    {12, Payload::Metric::kStringValue}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(payload.metrics(i).name(), metrics[i].name);
        EXPECT_EQ(payload.metrics(i).datatype(), expected[i].datatype);
        EXPECT_EQ(payload.metrics(i).value_case(), expected[i].value);
        EXPECT_EQ(payload.metrics(i).timestamp(), 99u);
    }
    EXPECT_TRUE(payload.metrics(0).boolean_value());
    EXPECT_EQ(static_cast<int64_t>(payload.metrics(1).long_value()), -5);
    EXPECT_EQ(payload.metrics(2).long_value(), uint64_t{1} << 40);
    EXPECT_EQ(payload.metrics(3).double_value(), 2.5);
    EXPECT_EQ(payload.metrics(4).string_value(), "text");

    const Payload death = Decode(EncodeDevicePayload({}, 3, 99));
    EXPECT_EQ(death.seq(), 3u);
    EXPECT_EQ(death.metrics_size(), 0);
}

TEST(SparkplugTest, SequenceStartsAtTheBirthAndWrapsAfter255) {
    SparkplugSequence sequence;
    EXPECT_EQ(sequence.Birth(), 0u);
    for (uint64_t expected = 1; expected <= 255; ++expected) {
        ASSERT_EQ(sequence.Next(), expected);
    }
    EXPECT_EQ(sequence.Next(), 0u);
    EXPECT_EQ(sequence.Next(), 1u);
    EXPECT_EQ(sequence.Birth(), 0u);
    EXPECT_EQ(sequence.Next(), 1u);
}

TEST(SparkplugTest, DataCarriesOnlyWhatChangedSinceItWasLastPublished) {
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    MetricChanges changes;
    changes.Publish({{"a", uint64_t{1}}, {"v", unknown}, {"s", std::string("x")}});
    const struct {
        Metrics current;
        std::vector<std::string> changed;
    } steps[] = {
        {{{"a", uint64_t{1}}, {"v", unknown}, {"s", std::string("x")}}, {}},
        {{{"a", uint64_t{2}}, {"v", unknown}, {"s", std::string("x")}}, {"a"}},
        {{{"a", uint64_t{2}}, {"v", 1.5}, {"s", std::string("y")}}, {"v", "s"}},
        {{{"a", uint64_t{2}}, {"v", 1.5}, {"s", std::string("y")}, {"new", false}}, {"new"}},
    };
    for (const auto& step : steps) {
        std::vector<std::string> names;
        for (const Metric& metric : changes.Take(step.current)) {
            names.push_back(metric.name);
        }
        EXPECT_EQ(names, step.changed);
    }
    changes.Forget();
    EXPECT_EQ(changes.Take({{"a", uint64_t{2}}}).size(), 1u);
}

TEST(SparkplugTest, TopicsFollowTheNamespace) {
    EXPECT_EQ(SparkplugTopic("line1", SparkplugMessage::NBIRTH, "pc7"), "spBv1.0/line1/NBIRTH/pc7");
    EXPECT_EQ(SparkplugTopic("line1", SparkplugMessage::NCMD, "pc7"), "spBv1.0/line1/NCMD/pc7");
    EXPECT_EQ(SparkplugTopic("line1", SparkplugMessage::DDATA, "pc7", "left"),
              "spBv1.0/line1/DDATA/pc7/left");
    EXPECT_EQ(ProfilesTopic("line1", "left"), "quil/v1/line1/left/profiles");
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

#include "api/ResourceFrame.h"
#include "support/ExpectThrow.h"
#include "support/JsonCases.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {

// Declared beside the library's records, where the frame's conversion finds it.
struct Sample {
    uint32_t count{};
    int32_t offset{};
    double factor{};
    bool enabled{};
    std::string name;
    std::vector<uint32_t> list;
    std::vector<IdNameEntry> entries;

    static constexpr auto kFields = std::make_tuple(
        Key("count", &Sample::count), Key("offset", &Sample::offset),
        Key("factor", &Sample::factor), Key("enabled", &Sample::enabled),
        Key("name", &Sample::name), Key("list", &Sample::list), Key("entries", &Sample::entries));
};

namespace ResourceFrame {
template <>
struct Schema<Sample> {
    static inline const auto fields =
        std::make_tuple(Field("count", &Sample::count), Field("offset", &Sample::offset),
                        Field("factor", &Sample::factor), Field("enabled", &Sample::enabled),
                        Field("name", &Sample::name), Field("list", &Sample::list),
                        Field("entries", &Sample::entries));
};
}  // namespace ResourceFrame

namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::Throws;

json Good() {
    return json::parse(R"({"count": 2.9, "offset": true, "factor": 3, "enabled": false,
        "name": "n", "list": [1, 2], "entries": [{"id": 1, "name": "a"}, {"id": 2.5, "name": "b"}],
        "extra": {"ignored": true}})");
}

TEST(ResourceFrameTest, ConvertsByTheLibrarysRules) {
    const Sample expected{2, 1, 3.0, false, "n", {1, 2}, {{1, "a"}, {2, "b"}}};
    EXPECT_EQ(Good().get<Sample>(), expected);
}

// A change that spoils the good data; the failure rows say how reading it then fails.
struct Change {
    const char* name;
    std::function<void(json&)> spoil;
};
using ReadFailure = Testing::FailureRow<Change>;

class ResourceFrameFailureTest : public ::testing::TestWithParam<ReadFailure> {};

TEST_P(ResourceFrameFailureTest, ReportsTheFirstProblemWithTheExactText) {
    json data = Good();
    GetParam().input.spoil(data);
    EXPECT_TRUE(Testing::Fails([&data] { data.get<Sample>(); }, GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    Data, ResourceFrameFailureTest,
    ::testing::Values(
        ReadFailure{{"FirstOfTwoMissingKeys",
                     [](json& d) {
                         d.erase("name");
                         d.erase("factor");
                     }},
                    Failure::Missing,
                    "factor"},
        ReadFailure{{"KeyCaseMatters",
                     [](json& d) {
                         d["Count"] = d["count"];
                         d.erase("count");
                     }},
                    Failure::Missing,
                    "count"},
        ReadFailure{{"PresenceIsCheckedBeforeConversion",
                     [](json& d) {
                         d["count"] = "12";
                         d.erase("entries");
                     }},
                    Failure::Missing,
                    "entries"},
        ReadFailure{{"DataNotAnObject", [](json& d) { d = 42; }}, Failure::Missing, "count"},
        ReadFailure{{"NumberAsString", [](json& d) { d["count"] = "120"; }},
                    Failure::Type,
                    "type must be number, but is string"},
        ReadFailure{{"NullValue", [](json& d) { d["offset"] = nullptr; }},
                    Failure::Type,
                    "type must be number, but is null"},
        ReadFailure{{"BooleanIntoDouble", [](json& d) { d["factor"] = true; }},
                    Failure::Type,
                    "type must be number, but is boolean"},
        ReadFailure{{"NumberIntoBoolean", [](json& d) { d["enabled"] = 1; }},
                    Failure::Type,
                    "type must be boolean, but is number"},
        ReadFailure{{"NumberIntoString", [](json& d) { d["name"] = 1; }},
                    Failure::Type,
                    "type must be string, but is number"},
        ReadFailure{{"ObjectIntoList", [](json& d) { d["list"] = json::object(); }},
                    Failure::Type,
                    "type must be array, but is object"},
        ReadFailure{{"EntryWithoutName", [](json& d) { d["entries"][1].erase("name"); }},
                    Failure::Missing,
                    "name"},
        ReadFailure{
            {"EntryNotAnObject", [](json& d) { d["entries"][0] = 3; }}, Failure::Missing, "id"}),
    [](const ::testing::TestParamInfo<ReadFailure>& info) {
        return std::string(info.param.input.name);
    });

TEST(ResourceFrameTest, EmptyDataIsRefusedButScalarsPass) {
    for (const json& empty : {json(), json::object(), json::array()}) {
        EXPECT_TRUE(Throws<std::invalid_argument>([&] { ResourceFrame::CheckNotEmpty(empty); },
                                                  "No response received (is null)."))
            << empty.dump();
    }
    for (const json& scalar : {json(0), json(false), json(""), json("x")}) {
        EXPECT_NO_THROW(ResourceFrame::CheckNotEmpty(scalar)) << scalar.dump();
    }
}

TEST(ResourceFrameTest, CheckFieldAcceptsNullValues) {
    EXPECT_NO_THROW(ResourceFrame::CheckField(json{{"a", nullptr}}, "a"));
}

TEST(ResourceFrameTest, WritesKeepTypesAndKeyOrder) {
    const json body = ResourceFrame::Object({{"b", 1.0},
                                             {"a", 150u},
                                             {"c", -3},
                                             {"d", true},
                                             {"e", "t"},
                                             {"f", std::vector<double>{2.0}}});
    EXPECT_EQ(body.dump(), R"({"a":150,"b":1.0,"c":-3,"d":true,"e":"t","f":[2.0]})");
}

}  // namespace
}  // namespace Varkon::QUILApi

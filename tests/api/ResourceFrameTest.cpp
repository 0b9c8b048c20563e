#include "api/ResourceFrame.h"
#include "support/ExpectThrow.h"

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
        Key("count", &Sample::count), Key("offset", &Sample::offset), Key("factor", &Sample::factor),
        Key("enabled", &Sample::enabled), Key("name", &Sample::name), Key("list", &Sample::list),
        Key("entries", &Sample::entries));
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

struct ReadFailure {
    const char* name;
    std::function<void(json&)> change;
    const char* kind;  // "missing" or "type"
    const char* text;
};

class ResourceFrameFailureTest : public ::testing::TestWithParam<ReadFailure> {};

TEST_P(ResourceFrameFailureTest, ReportsTheFirstProblemWithTheExactText) {
    json data = Good();
    GetParam().change(data);
    const auto read = [&data] { data.get<Sample>(); };
    if (std::string(GetParam().kind) == "missing") {
        EXPECT_TRUE(Throws<std::out_of_range>(read, GetParam().text));
    } else {
        EXPECT_TRUE(Throws<json::type_error>(read, GetParam().text));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Data, ResourceFrameFailureTest,
    ::testing::Values(
        ReadFailure{"FirstOfTwoMissingKeys",
                    [](json& d) {
                        d.erase("name");
                        d.erase("factor");
                    },
                    "missing", "Field factor missing in response."},
        ReadFailure{"KeyCaseMatters",
                    [](json& d) {
                        d["Count"] = d["count"];
                        d.erase("count");
                    },
                    "missing", "Field count missing in response."},
        ReadFailure{"PresenceIsCheckedBeforeConversion",
                    [](json& d) {
                        d["count"] = "12";
                        d.erase("entries");
                    },
                    "missing", "Field entries missing in response."},
        ReadFailure{"DataNotAnObject", [](json& d) { d = 42; }, "missing",
                    "Field count missing in response."},
        ReadFailure{"NumberAsString", [](json& d) { d["count"] = "120"; }, "type",
                    "[json.exception.type_error.302] type must be number, but is string"},
        ReadFailure{"NullValue", [](json& d) { d["offset"] = nullptr; }, "type",
                    "[json.exception.type_error.302] type must be number, but is null"},
        ReadFailure{"BooleanIntoDouble", [](json& d) { d["factor"] = true; }, "type",
                    "[json.exception.type_error.302] type must be number, but is boolean"},
        ReadFailure{"NumberIntoBoolean", [](json& d) { d["enabled"] = 1; }, "type",
                    "[json.exception.type_error.302] type must be boolean, but is number"},
        ReadFailure{"NumberIntoString", [](json& d) { d["name"] = 1; }, "type",
                    "[json.exception.type_error.302] type must be string, but is number"},
        ReadFailure{"ObjectIntoList", [](json& d) { d["list"] = json::object(); }, "type",
                    "[json.exception.type_error.302] type must be array, but is object"},
        ReadFailure{"EntryWithoutName", [](json& d) { d["entries"][1].erase("name"); }, "missing",
                    "Field name missing in response."},
        ReadFailure{"EntryNotAnObject", [](json& d) { d["entries"][0] = 3; }, "missing",
                    "Field id missing in response."}),
    [](const ::testing::TestParamInfo<ReadFailure>& info) { return std::string(info.param.name); });

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

// Profiles and images, through a channel without network.
#include "api/QuilApi.h"
#include "support/FakeChannel.h"
#include "support/FakeClient.h"
#include "support/JsonCases.h"

#include <gtest/gtest.h>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::FakeChannel;
using Testing::With;
using Testing::Without;

const json kProfile = {{"qualityID", 1}, {"timestamp", {12, 345678}},
                       {"prec", 3},      {"xStart", -250},
                       {"length", 100},  {"points", {10, 500, 12, 510, 14, 520}}};

const json kImage = {{"roiHeight", 2},      {"roiWidth", 2},   {"rowOffset", 10},
                     {"columnOffset", 20},  {"rowBinning", 1}, {"colBinning", 1},
                     {"pixels", "AAECAw=="}};

using Testing::FailureCase;

class ProfilesAndImagesTest : public Testing::FakeClientTest {
protected:
    Profile ReadProfile(const json& data) {
        channel->Ack(data);
        return client.GetProfile();
    }
};

TEST_F(ProfilesAndImagesTest, ProfileWorkedExample) {
    const Profile expected{1, 12345678u, 3, -250, 100, {10, 12, 14}, {500, 510, 520}};
    EXPECT_EQ(ReadProfile(kProfile), expected);
    EXPECT_EQ(channel->requests.back(),
              R"({"msgData":["Profile"],"msgID":1,"msgType":"GET","sessionID":0})");
}

TEST_F(ProfilesAndImagesTest, PointsAlternateBetweenXAndZ) {
    struct Case {
        json points;
        std::vector<int32_t> x;
        std::vector<int32_t> z;
    };
    const Case cases[] = {
        {json::array(), {}, {}},
        {{1, 2, 3}, {1, 3}, {2}},
        {{7}, {7}, {}},
        {{1, 2, 3, 4}, {1, 3}, {2, 4}},
        {{-1, 2.9, true, -2147483648}, {-1, 1}, {2, -2147483648}},
        {nullptr, {}, {}},  // like the frame's lists: null holds no element
    };
    for (const auto& c : cases) {
        const auto profile = ReadProfile(With(kProfile, "/points", c.points));
        EXPECT_EQ(profile.xValues, c.x) << c.points.dump();
        EXPECT_EQ(profile.zValues, c.z) << c.points.dump();
        EXPECT_EQ(profile.length, 100u);  // not compared with the point count
    }
    const auto odd =
        ReadProfile(With(With(kProfile, "/qualityID", 2.9), "/timestamp", {0, 999999}));
    EXPECT_EQ(odd.qualityID, 2u);
    EXPECT_EQ(odd.timestamp, 999999u);
    EXPECT_EQ(ReadProfile(With(kProfile, "/timestamp", {1, 0})).timestamp, 1000000u);
}

TEST_F(ProfilesAndImagesTest, ProfileFailures) {
    const std::string domain = "Field timestamp is not an array of at least one number.";
    const FailureCase cases[] = {
        {json::object(), Failure::Empty, ""},
        {Without(kProfile, "/qualityID"), Failure::Missing, "qualityID"},
        {Without(Without(kProfile, "/points"), "/timestamp"), Failure::Missing, "timestamp"},
        {Without(kProfile, "/points"), Failure::Missing, "points"},
        {With(kProfile, "/points", {1, "2"}), Failure::Type, "type must be number, but is string"},
        {With(kProfile, "/points", {1, nullptr}), Failure::Type,
         "type must be number, but is null"},
        // The points are walked before the other values are converted.
        {With(With(kProfile, "/points", {json::object()}), "/prec", "x"), Failure::Type,
         "type must be number, but is object"},
        {With(kProfile, "/prec", "x"), Failure::Type, "type must be number, but is string"},
        {With(kProfile, "/xStart", nullptr), Failure::Type, "type must be number, but is null"},
        // A number the field cannot hold fails like a wrong type, naming field and value.
        {With(kProfile, "/xStart", 1e200), Failure::Type, "number out of range for xStart: 1e+200"},
        {With(kProfile, "/xStart", 2147483648u), Failure::Type,
         "number out of range for xStart: 2147483648"},
        {With(kProfile, "/points", {1, 1e200}), Failure::Type,
         "number out of range for points: 1e+200"},
        {With(kProfile, "/points", {-2147483649.0}), Failure::Type,
         "number out of range for points: -2147483649.0"},
        {With(kProfile, "/timestamp", {1e300}), Failure::Type,
         "number out of range for timestamp: 1e+300"},
        {With(kProfile, "/timestamp", {1, -1}), Failure::Type,
         "number out of range for timestamp: -1"},
        {With(kProfile, "/length", -1.5), Failure::Type, "number out of range for length: -1.5"},
        {With(kProfile, "/timestamp", {false, 1}), Failure::Type,
         "type must be number, but is boolean"},
        {With(kProfile, "/timestamp", json::array()), Failure::Domain, domain},
        {With(kProfile, "/timestamp", 12345678), Failure::Domain, domain},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetProfile(); }, c.kind, c.text)) << c.input.dump();
    }
}

TEST_F(ProfilesAndImagesTest, AugmentedProfile) {
    channel->Ack(With(kProfile, "/brightness", {7, 8, 9.5}));
    const AugmentedProfile expected{
        1, 12345678u, 3, -250, 100, {10, 12, 14}, {500, 510, 520}, {7, 8, 9}};
    EXPECT_EQ(client.GetAugmentedProfile(), expected);
    EXPECT_EQ(channel->requests.back(),
              R"({"msgData":["AugmentedProfile"],"msgID":1,"msgType":"GET","sessionID":0})");

    const FailureCase cases[] = {
        {kProfile, Failure::Missing, "brightness"},
        {With(kProfile, "/brightness", 5), Failure::Type, "type must be array, but is number"},
        {With(kProfile, "/brightness", {"1"}), Failure::Type, "type must be number, but is string"},
        {With(With(kProfile, "/brightness", 5), "/points", {"a"}), Failure::Type,
         "type must be number, but is string"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetAugmentedProfile(); }, c.kind, c.text))
            << c.input.dump();
    }
}

TEST_F(ProfilesAndImagesTest, ProfileMetaAndImageMeta) {
    channel->Ack({{"maxLength", 2048}, {"xUnit", "um"}, {"zUnit", "nm"}});
    EXPECT_EQ(client.GetProfileMeta(), (ProfileMeta{2048, "um", "nm"}));
    channel->Ack({{"sensorHeight", 1024}, {"sensorWidth", 1280}, {"maxROIPixels", 1310720}});
    EXPECT_EQ(client.GetImageMeta(), (ImageMeta{1024, 1280, 1310720}));
    EXPECT_EQ(channel->requests,
              (std::vector<std::string>{
                  R"({"msgData":["ProfileMeta"],"msgID":1,"msgType":"GET","sessionID":0})",
                  R"({"msgData":["ImageMeta"],"msgID":2,"msgType":"GET","sessionID":0})"}));

    channel->Ack({{"maxLength", 2048}, {"zUnit", "nm"}});
    EXPECT_TRUE(Testing::Fails([&] { client.GetProfileMeta(); }, Failure::Missing, "xUnit"));
    channel->Ack({{"maxLength", 2048}, {"xUnit", 1}, {"zUnit", "nm"}});
    EXPECT_TRUE(Testing::Fails([&] { client.GetProfileMeta(); }, Failure::Type,
                               "type must be string, but is number"));
    channel->Ack({{"sensorHeight", 1024}, {"sensorWidth", 1280}});
    EXPECT_TRUE(Testing::Fails([&] { client.GetImageMeta(); }, Failure::Missing, "maxROIPixels"));
    channel->Ack(json::object());
    EXPECT_TRUE(Testing::Fails([&] { client.GetImageMeta(); }, Failure::Empty, ""));
}

TEST_F(ProfilesAndImagesTest, Image) {
    channel->Ack(kImage);
    EXPECT_EQ(client.GetImage(), (Image{2, 2, 10, 20, 1, 1, {0, 1, 2, 3}}));
    EXPECT_EQ(channel->requests.back(),
              R"({"msgData":["Image"],"msgID":1,"msgType":"GET","sessionID":0})");
    channel->Ack(With(kImage, "/pixels", ""));
    EXPECT_EQ(client.GetImage(), (Image{2, 2, 10, 20, 1, 1, {}}));
    channel->Ack(With(kImage, "/rowBinning", 2.5));
    EXPECT_EQ(client.GetImage().rowBinning, 2u);
}

TEST_F(ProfilesAndImagesTest, ImageFailures) {
    const FailureCase cases[] = {
        {json::object(), Failure::Empty, ""},
        {Without(kImage, "/roiHeight"), Failure::Missing, "roiHeight"},
        {Without(kImage, "/pixels"), Failure::Missing, "pixels"},
        {With(kImage, "/pixels", 5), Failure::Type, "type must be string, but is number"},
        {With(kImage, "/pixels", nullptr), Failure::Type, "type must be string, but is null"},
        {With(kImage, "/pixels", json::array()), Failure::Type,
         "type must be string, but is array"},
        {With(kImage, "/colBinning", "1"), Failure::Type, "type must be number, but is string"},
        // The pixels are decoded before the other keys are converted.
        {With(With(kImage, "/pixels", "AAECAw"), "/roiHeight", "x"), Failure::OutOfRange,
         "Base64Decode: Input data size is not a multiple of 4"},
        {With(With(kImage, "/pixels", "AA=CAw=="), "/roiHeight", "x"), Failure::Invalid,
         "Base64Decode: Padding \"=\" at position 2 is not at the end of the input data"},
        {With(kImage, "/pixels", "AAEC\r\nAw=="), Failure::OutOfRange,
         "Base64Decode: Input data size is not a multiple of 4"},
        {With(kImage, "/pixels", "AAE.Aw=="), Failure::Invalid,
         "Base64Decode: Character 0x2E at position 3 is outside the Base64 alphabet"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.GetImage(); }, c.kind, c.text)) << c.input.dump();
    }
}

}  // namespace
}  // namespace Varkon::QUILApi

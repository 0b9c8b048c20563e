// Settings backup and restore, through a channel without network and end to end
// through the test sensor.
#include "TestSensor.h"
#include "api/QuilApi.h"
#include "api/SettingsBlocks.h"
#include "support/FakeChannel.h"
#include "support/FakeClient.h"
#include "support/JsonCases.h"

#include <gtest/gtest.h>

#include "support/TestAddresses.h"

#include <mutex>

namespace Varkon::QUILApi {
namespace {

using nlohmann::json;
using Testing::Failure;
using Testing::FakeChannel;

std::string Block(int num, bool last, const std::string& block) {
    return json::array(
               {"WriteSettingsBlock", {{"num", num}, {"isLastBlock", last}, {"block", block}}})
        .dump();
}

class SettingsBackupTest : public Testing::FakeClientTest {
protected:
    // Scripts the limit and enough acknowledgements for `blocks` blocks.
    void Script(json limit, std::size_t blocks) {
        channel->Ack({{"maxLength", std::move(limit)}});
        for (std::size_t i = 0; i <= blocks; ++i) {
            channel->Ack();
        }
    }

    // The "block" strings of every WriteSettingsBlock sent, with their marks.
    std::vector<std::pair<std::string, bool>> SentBlocks() const {
        std::vector<std::pair<std::string, bool>> blocks;
        for (const auto& text : channel->requests) {
            const json request = json::parse(text);
            if (request["msgData"][0] == "WriteSettingsBlock") {
                const auto& value = request["msgData"][1];
                EXPECT_EQ(value["num"], blocks.size());
                blocks.emplace_back(value["block"], value["isLastBlock"]);
            }
        }
        return blocks;
    }
};

TEST_F(SettingsBackupTest, ReadsReturnTheBlobUnchanged) {
    const std::string blob = "{\"a\":1}\n\tÜ✓ \xF0\x9F\x98\x80";
    channel->Ack({{"blob", blob}});
    EXPECT_EQ(client.ReadAllSettings(), blob);
    channel->Ack({{"blob", ""}, {"other", 1}});
    EXPECT_EQ(client.ReadSingleSetting(2), "");
    EXPECT_EQ(
        channel->requests,
        (std::vector<std::string>{Request(R"(["ReadAllSettings"])", 1, "GET"),
                                  Request(R"(["ReadSingleSetting",{"numSetup":2}])", 2, "GET")}));

    using Case = Testing::FailureCase;
    const Case cases[] = {
        {json::object(), Failure::Empty, ""},
        {{{"Blob", "x"}}, Failure::Missing, "blob"},
        {{{"blob", 5}}, Failure::Type, "type must be string, but is number"},
        {{{"blob", nullptr}}, Failure::Type, "type must be string, but is null"},
    };
    for (const auto& c : cases) {
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.ReadAllSettings(); }, c.kind, c.text));
        channel->Ack(c.input);
        EXPECT_TRUE(Testing::Fails([&] { client.ReadSingleSetting(1); }, c.kind, c.text));
    }
}

TEST_F(SettingsBackupTest, TenBytesInBlocksOfFour) {
    Script(4, 3);
    client.WriteAllSettings("0123456789");
    EXPECT_EQ(channel->requests,
              (std::vector<std::string>{
                  Request(R"(["WriteSettingsBlockLimits"])", 1, "GET"),
                  Request(R"(["StartSettingWrite"])", 2, "SET"),
                  Request(R"(["WriteSettingsBlock",{"block":"0123","isLastBlock":false,"num":0}])",
                          3, "SET"),
                  Request(R"(["WriteSettingsBlock",{"block":"4567","isLastBlock":false,"num":1}])",
                          4, "SET"),
                  Request(R"(["WriteSettingsBlock",{"block":"89","isLastBlock":true,"num":2}])", 5,
                          "SET")}));
}

TEST_F(SettingsBackupTest, SingleSettingSendsItsNumberWhateverItsSize) {
    for (const uint32_t numSetup : {0u, 2u, 2147483647u, 2147483648u, 4294967295u}) {
        channel->requests.clear();
        Script(4, 1);
        client.WriteSingleSetting("abc", numSetup);
        ASSERT_EQ(channel->requests.size(), 3u);
        const json start = Sent(1)["msgData"];
        EXPECT_EQ(start, json::array({"StartSettingWrite", {{"numSetup", numSetup}}}));
        EXPECT_TRUE(start[1]["numSetup"].is_number_unsigned());
        EXPECT_EQ(MsgData(2), Block(0, true, "abc"));
    }
}

TEST_F(SettingsBackupTest, BlocksEndAtCharacterBoundaries) {
    const std::string a = "\xC3\xA4";              // ä, 2 bytes
    const std::string check = "\xE2\x9C\x93";      // ✓, 3 bytes
    const std::string smile = "\xF0\x9F\x98\x80";  // 😀, 4 bytes
    struct Case {
        std::string blob;
        uint32_t limit;
        std::vector<std::string> blocks;
    };
    const Case cases[] = {
        {"0123456789", 4, {"0123", "4567", "89"}},
        {"01234567", 4, {"0123", "4567"}},  // exact multiple: no empty block follows
        {"012", 4, {"012"}},
        {"0123", 4294967295u, {"0123"}},
        {"012" + a + "56", 4, {"012", a + "56"}},  // ä would straddle 3|4
        {"0123" + a, 4, {"0123", a}},
        {check + check, 4, {check, check}},
        {check + check, 3, {check, check}},
        {check + check, 5, {check, check}},
        {check + check, 6, {check + check}},
        {"x" + smile + "y", 4, {"x", smile, "y"}},
        {smile + smile, 7, {smile, smile}},
        {a + a + a, 1 + 2, {a, a, a}},
        {"ab", 1, {"a", "b"}},
        {"", 4, {}},
    };
    for (const auto& c : cases) {
        channel->requests.clear();
        Script(c.limit, c.blocks.size());
        client.WriteAllSettings(c.blob);
        const auto sent = SentBlocks();
        ASSERT_EQ(sent.size(), c.blocks.size()) << c.blob << " limit " << c.limit;
        std::string joined;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].first, c.blocks[i]) << c.blob << " limit " << c.limit;
            EXPECT_EQ(sent[i].second, i + 1 == sent.size());
            EXPECT_LE(sent[i].first.size(), c.limit);
            joined += sent[i].first;
        }
        EXPECT_EQ(joined, c.blob);
        // An empty blob: the limit query and the announcement, no block.
        EXPECT_EQ(channel->requests.size(), 2 + c.blocks.size());
    }
}

TEST_F(SettingsBackupTest, RefusalsComeBeforeTheWriteIsAnnounced) {
    struct Case {
        std::string blob;
        json limit;  // null: no limit query expected
        std::function<bool(const std::function<void()>&)> fails;
    };
    const auto invalid = [](const std::string& text) {
        return [text](const std::function<void()>& call) {
            return bool(Testing::Fails(call, Failure::Invalid, text));
        };
    };
    const Case cases[] = {
        {"0123", 0, invalid("Received invalid settings block length.")},
        {"0123", false, invalid("Received invalid settings block length.")},
        {"ab\xE2\x9C\x93", 2,
         invalid("Settings block length 2 is smaller than the UTF-8 character at byte 2.")},
        {"\xF0\x9F\x98\x80", 1,
         invalid("Settings block length 1 is smaller than the UTF-8 character at byte 0.")},
        {"\xE2\x9C\x93", 1,
         invalid("Settings block length 1 is smaller than the UTF-8 character at byte 0.")},
        {"ab\xC3(", nullptr, invalid("Settings blob is not valid UTF-8 (byte 2).")},
        {"ab\xC3", nullptr, invalid("Settings blob is not valid UTF-8 (byte 2).")},
        {"\x80", nullptr, invalid("Settings blob is not valid UTF-8 (byte 0).")},
        {"a\xC0\x80", nullptr, invalid("Settings blob is not valid UTF-8 (byte 1).")},  // overlong
        {"a\xED\xA0\x80", nullptr, invalid("Settings blob is not valid UTF-8 (byte 1).")},
        {"a\xF4\x90\x80\x80", nullptr, invalid("Settings blob is not valid UTF-8 (byte 1).")},
        {"a\xFF", nullptr, invalid("Settings blob is not valid UTF-8 (byte 1).")},
        {"0123", "4",
         [](const std::function<void()>& call) {
             return bool(Testing::Fails(call, Failure::Type, "type must be number, but is string"));
         }},
    };
    for (const auto& c : cases) {
        channel->requests.clear();
        channel->replies.clear();
        if (!c.limit.is_null()) {
            channel->Ack({{"maxLength", c.limit}});
        }
        EXPECT_TRUE(c.fails([&] { client.WriteAllSettings(c.blob); })) << c.limit.dump();
        // At most the limit query went out: never StartSettingWrite.
        EXPECT_EQ(channel->requests.size(), c.limit.is_null() ? 0u : 1u);
        for (const auto& request : channel->requests) {
            EXPECT_EQ(request.find("StartSettingWrite"), std::string::npos);
        }
    }
    channel->requests.clear();
    channel->Ack({{"limit", 4}});
    EXPECT_TRUE(
        Testing::Fails([&] { client.WriteAllSettings("x"); }, Failure::Missing, "maxLength"));
    EXPECT_EQ(channel->requests.size(), 1u);
}

TEST_F(SettingsBackupTest, ASensorRefusalStopsTheSequence) {
    channel->Ack({{"maxLength", 2}});
    channel->Ack();
    channel->Ack();
    channel->Answer({{"msgType", "ERR"}, {"msgData", {"WriteSettingsBlock", "InvalidArgument"}}});
    EXPECT_TRUE(Testing::Fails(
        [&] { client.WriteSingleSetting("abcdef", 1); }, Failure::Invalid,
        "SET returned an error: Invalid parameters passed for resource <WriteSettingsBlock>"));
    EXPECT_EQ(channel->requests.size(), 4u);  // the third block is not sent
}

TEST(SettingsBlocks, CheckUtf8AcceptsEveryValidForm) {
    EXPECT_NO_THROW(SettingsBlocks::CheckUtf8(""));
    EXPECT_NO_THROW(SettingsBlocks::CheckUtf8(std::string("a\0b", 3)));
    EXPECT_NO_THROW(
        SettingsBlocks::CheckUtf8("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80"
                                  "\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));
}

// --- End to end through the test sensor ------------------------------------------------------

// A sensor that keeps a settings blob, hands it out in "ReadAllSettings" and assembles what a
// settings write sends, checking the sequence as it goes.
class SettingsSensor {
public:
    SettingsSensor(const std::string& address, std::string stored, uint32_t limit)
        : sensor(address), stored(std::move(stored)), limit(limit) {
        sensor.SetHandler([this](Sim::Connection& connection, const std::string& text) {
            Handle(connection, text);
        });
    }

    std::string Written() {
        std::lock_guard<std::mutex> lock(mutex);
        return written;
    }
    std::vector<std::size_t> BlockSizes() {
        std::lock_guard<std::mutex> lock(mutex);
        return blockSizes;
    }
    bool Complete() {
        std::lock_guard<std::mutex> lock(mutex);
        return complete && faults.empty();
    }
    std::string Faults() {
        std::lock_guard<std::mutex> lock(mutex);
        return faults;
    }

    Sim::TestSensor sensor;

private:
    void Handle(Sim::Connection& connection, const std::string& text) {
        const json request = json::parse(text);
        if (request.value("msgType", "") != "GET" && request.value("msgType", "") != "SET") {
            sensor.AnswerByDefault(connection, text);
            return;
        }
        const std::string resource = request["msgData"][0];
        std::lock_guard<std::mutex> lock(mutex);
        if (resource == "ReadAllSettings") {
            connection.Send(Sim::TestSensor::Ack(request, {{"blob", stored}}));
        } else if (resource == "WriteSettingsBlockLimits") {
            connection.Send(Sim::TestSensor::Ack(request, {{"maxLength", limit}}));
        } else if (resource == "StartSettingWrite") {
            written.clear();
            blockSizes.clear();
            started = true;
            complete = false;
            if (request["msgData"].size() != 1)
                faults += "StartSettingWrite has a value; ";
            connection.Send(Sim::TestSensor::Ack(request));
        } else if (resource == "WriteSettingsBlock") {
            const auto& value = request["msgData"][1];
            if (!started || complete)
                faults += "block outside a write; ";
            if (value["num"] != blockSizes.size())
                faults += "block out of order; ";
            const std::string block = value["block"];
            if (block.size() > limit)
                faults += "block longer than the limit; ";
            written += block;
            blockSizes.push_back(block.size());
            complete = value["isLastBlock"].get<bool>();
            connection.Send(Sim::TestSensor::Ack(request));
        } else {
            sensor.AnswerByDefault(connection, text);
        }
    }

    std::mutex mutex;
    std::string stored;
    uint32_t limit;
    std::string written;
    std::vector<std::size_t> blockSizes;
    bool started = false;
    bool complete = false;
    std::string faults;
};

TEST(SettingsRoundTrip, BlobTravelsByteForByteWithCharactersAtBlockBoundaries) {
    // Limit 8: characters of 2, 3 and 4 bytes sit across every boundary of a plain cut.
    std::string blob = "{\"name\":\"";
    const char* characters[] = {"\xC3\xA4", "\xE2\x9C\x93", "\xF0\x9F\x98\x80", "x"};
    for (int i = 0; i < 200; ++i) {
        blob += characters[i % 4];
        if (i % 7 == 0)
            blob += "\\n";
    }
    blob += "\"}";
    ASSERT_NO_THROW(SettingsBlocks::CheckUtf8(blob));

    SettingsSensor fake(Testing::TestAddress(), blob, 8);
    auto client = Quil::Create(Testing::TestAddress(), Testing::TestPort());
    client->Connect();
    const std::string read = client->ReadAllSettings();
    ASSERT_EQ(read, blob);
    client->WriteAllSettings(read);
    client->Disconnect();

    EXPECT_EQ(fake.Faults(), "");
    EXPECT_TRUE(fake.Complete());
    EXPECT_EQ(fake.Written(), blob);  // byte for byte
    const auto sizes = fake.BlockSizes();
    EXPECT_GT(sizes.size(), blob.size() / 8);
    std::size_t shorter = 0;
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) {
        EXPECT_LE(sizes[i], 8u);
        shorter += sizes[i] < 8 ? 1 : 0;
    }
    EXPECT_GT(shorter, 0u);  // some boundaries were moved back to a character's start
}

}  // namespace
}  // namespace Varkon::QUILApi

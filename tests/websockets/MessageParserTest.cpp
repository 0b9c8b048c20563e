#include "websockets/MessageParser.h"

#include <gtest/gtest.h>

#include <string>

namespace Varkon::QUILApi::WebSockets {
namespace {

using nlohmann::json;

// Long plain strings are taken over without the JSON library's lexer: whatever the text, the
// document (or the failure) must be the library's own.
TEST(MessageParserTest, LongStringsParseAsTheLibraryParsesThem) {
    const std::string longText(5000, 'Q');
    const std::string q = "\"" + longText + "\"";
    const std::string cases[] = {
        R"({"msgData":["Image",{"pixels":)" + q + R"(,"roiWidth":3}],"msgID":7})",
        R"({"a":"x","b":[)" + q + R"(,"",)" + q + R"(,{"c":"y"}],"d":)" + q + "}",  // several
        "{" + q + ":" + q + "}",                                                    // also a key
        "[" + q + " , \"z\"]",
        "[\"" + longText + "\\\\" + longText + "\"]",  // escaped
        "[\"" + longText + "\xC3\xA4\"]",              // UTF-8
        "[\"" + longText + "\x01\"]",                  // control
        "[\"" + longText + "\xC3\"]",                  // broken UTF-8
        "[\"" + longText + "\"",                       // unterminated
        "[" + q + "]]",                                // trailing
        q,
    };
    for (const std::string& text : cases) {
        const std::string shown = text.substr(0, 30) + " ... " + text.substr(text.size() - 20);
        json expected;
        try {
            expected = json::parse(text);
        } catch (const json::parse_error&) {
            EXPECT_THROW(ParseMessage(text), json::parse_error) << shown;
            continue;
        }
        EXPECT_EQ(ParseMessage(text), expected) << shown;
    }
}

}  // namespace
}  // namespace Varkon::QUILApi::WebSockets

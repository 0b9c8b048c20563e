// Text from outside as the gateway's lines show it: quoted, escaped and shortened.
#include "Log.h"

#include <gtest/gtest.h>

namespace Varkon::QuilGateway::Testing {
namespace {

TEST(LogTest, QuotedTextCannotBreakALineNorGrowIt) {
    const struct {
        std::string text;
        std::string quoted;
    } cases[] = {
        {"jam-0812", "\"jam-0812\""},
        {"", "\"\""},
        {"a\nquil-gateway: b\r\t", "\"a\\nquil-gateway: b\\r\\t\""},
        {"say \"hi\" \\", "\"say \\\"hi\\\" \\\\\""},
        {std::string("\x1b[2J\0\x7f\xc3\xa9", 8), "\"\\x1b[2J\\x00\\x7f\\xc3\\xa9\""},
        {std::string(65, 'a'), "\"" + std::string(64, 'a') + "...\" (65 bytes)"},
        {std::string(64, 'a'), "\"" + std::string(64, 'a') + "\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Quoted(c.text), c.quoted);
    }
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

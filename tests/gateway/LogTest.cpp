// Text from outside as the gateway's lines show it: quoted, escaped and shortened.
#include "Log.h"

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

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

TEST(LogTest, LinesStartWithTheLocalTimeUnlessJournaldStampsThem) {
    // 2025-03-01 13:03:07.250 UTC
    const auto when =
        std::chrono::system_clock::from_time_t(1740834187) + std::chrono::milliseconds(250);
    const std::string zone = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
    const struct {
        const char* zone;
        const char* stamp;
    } cases[] = {
        {"UTC0", "2025-03-01T13:03:07.250+00:00"},
        {"CET-1", "2025-03-01T14:03:07.250+01:00"},
        {"NST3:30", "2025-03-01T09:33:07.250-03:30"},
    };
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(LocalTimeStamp(when), c.stamp) << c.zone;
    }
    zone.empty() ? unsetenv("TZ") : setenv("TZ", zone.c_str(), 1);
    tzset();

    TempDirectory directory;
    const int file = open(directory.Write("log", "").c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    ASSERT_EQ(fstat(file, &status), 0);
    const std::string itself = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    EXPECT_TRUE(IsJournalStream(itself.c_str(), file));
    EXPECT_FALSE(IsJournalStream((itself + "1").c_str(), file));
    EXPECT_FALSE(IsJournalStream("", file));
    EXPECT_FALSE(IsJournalStream(nullptr, file));
    close(file);
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

// SaveImage, checked byte for byte and with Debian's netpbm tools (a PGM reader that
// nobody on the team wrote).
#include "api/QuilApi.h"
#include "support/ExpectThrow.h"
#include "support/ReadFile.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace Varkon::QUILApi {
namespace {

using Testing::ReadFile;
using Testing::RunCommand;
using Testing::Throws;

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

Image MakeImage(uint32_t width, uint32_t height, uint32_t colBinning, uint32_t rowBinning,
                std::size_t pixelCount) {
    Image image;
    image.roiWidth = width;
    image.roiHeight = height;
    image.colBinning = colBinning;
    image.rowBinning = rowBinning;
    image.rowOffset = 7;
    image.columnOffset = 9;
    for (std::size_t i = 0; i < pixelCount; ++i) {
        image.pixels.push_back(static_cast<uint8_t>(i * 7 + i / 256));
    }
    return image;
}

class ImageExportTest : public ::testing::Test {
protected:
    // SaveImage needs no connection: a client without a channel will do.
    QuilApi client{nullptr, nullptr};
    std::string dir = ::testing::TempDir();

    std::string Path(const std::string& name) {
        return dir + "quil_image_export_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
    }
    void TearDown() override {
        for (const auto& path : created) {
            std::remove(path.c_str());
        }
    }
    std::string Created(const std::string& name) {
        created.push_back(Path(name));
        std::remove(created.back().c_str());
        return created.back();
    }
    std::vector<std::string> created;
};

TEST_F(ImageExportTest, ExactBytes) {
    struct Case {
        Image image;
        std::string header;
    };
    const Case cases[] = {
        {MakeImage(640, 480, 2, 2, 320 * 240), "P5\n320 240\n255\n"},
        {MakeImage(641, 480, 2, 1, 320 * 480), "P5\n320 480\n255\n"},  // integer division
        {MakeImage(3, 2, 1, 1, 0), "P5\n3 2\n255\n"},                  // header only
        {MakeImage(3, 2, 1, 1, 3 * 2 + 2), "P5\n3 2\n255\n"},          // two extra bytes
        {MakeImage(3, 2, 1, 1, 4), "P5\n3 2\n255\n"},                  // too short: as it is
        {MakeImage(1, 1, 2, 2, 0), "P5\n0 0\n255\n"},
        {MakeImage(4294967295u, 10, 1, 1, 1), "P5\n4294967295 10\n255\n"},
    };
    EXPECT_EQ(std::string("P5\n320 240\n255\n").size(), 15u);  // the header's 15 bytes
    const auto path = Created("exact.pgm");
    for (const auto& c : cases) {
        client.SaveImage(path, c.image);
        const std::string expected =
            c.header + std::string(c.image.pixels.begin(), c.image.pixels.end());
        EXPECT_EQ(ReadFile(path), expected) << c.header;
    }
}

TEST_F(ImageExportTest, SavingTwiceKeepsOnlyTheSecondImage) {
    const auto path = Created("twice.pgm");
    client.SaveImage(path, MakeImage(64, 64, 1, 1, 64 * 64));
    const auto second = MakeImage(2, 2, 1, 1, 4);
    client.SaveImage(path, second);
    EXPECT_EQ(ReadFile(path), std::string("P5\n2 2\n255\n") + std::string("\0\7\16\25", 4));
}

TEST_F(ImageExportTest, AReaderThatNobodyOnTheTeamWroteAgrees) {
    ASSERT_TRUE(Exists("/usr/bin/pamfile") && Exists("/usr/bin/pamtopnm"))
        << "Debian's netpbm is missing: run scripts/setup";
    struct Case {
        Image image;
        uint32_t width;
        uint32_t height;
    };
    const Case cases[] = {
        {MakeImage(1280, 1024, 1, 1, 1280 * 1024), 1280, 1024},
        {MakeImage(641, 480, 2, 2, 320 * 240), 320, 240},
        {MakeImage(5, 3, 1, 1, 15), 5, 3},
    };
    const auto path = Created("reader.pgm");
    for (const auto& c : cases) {
        client.SaveImage(path, c.image);
        const auto [kind, status] = RunCommand("/usr/bin/pamfile '" + path + "' 2>&1");
        EXPECT_EQ(status, 0) << kind;
        EXPECT_NE(kind.find("PGM raw, " + std::to_string(c.width) + " by " +
                            std::to_string(c.height) + "  maxval 255"),
                  std::string::npos)
            << kind;

        // The plain form lists every grey value: they must be the pixels, in order.
        const auto [plain, plainStatus] = RunCommand("/usr/bin/pamtopnm -plain '" + path + "'");
        ASSERT_EQ(plainStatus, 0);
        std::istringstream values(plain);
        std::string magic;
        uint32_t width = 0, height = 0, maxval = 0;
        values >> magic >> width >> height >> maxval;
        EXPECT_EQ(magic, "P2");
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_EQ(maxval, 255u);
        std::vector<uint8_t> pixels;
        for (int value; values >> value;) {
            pixels.push_back(static_cast<uint8_t>(value));
        }
        EXPECT_EQ(pixels, c.image.pixels);
    }
    // A raster shorter than the header says is written as it is, and the reader refuses it.
    client.SaveImage(path, MakeImage(3, 2, 1, 1, 4));
    EXPECT_NE(RunCommand("/usr/bin/pamfile '" + path + "' 2>/dev/null").second, 0);
}

TEST_F(ImageExportTest, ABinningOfZeroIsRefusedBeforeTheFileIsTouched) {
    const auto absent = Created("absent.pgm");
    const auto existing = Created("existing.pgm");
    { std::ofstream(existing, std::ios::binary) << "keep me"; }
    struct Case {
        uint32_t colBinning;
        uint32_t rowBinning;
        const char* name;
    };
    const Case cases[] = {{0, 1, "colBinning"}, {1, 0, "rowBinning"}, {0, 0, "colBinning"}};
    for (const auto& c : cases) {
        for (const auto& path : {absent, existing}) {
            EXPECT_TRUE(Throws<std::invalid_argument>(
                [&] { client.SaveImage(path, MakeImage(4, 4, c.colBinning, c.rowBinning, 16)); },
                std::string("SaveImage: ") + c.name + " is 0, nothing written to " + path));
        }
    }
    EXPECT_FALSE(Exists(absent));
    EXPECT_EQ(ReadFile(existing), "keep me");
}

TEST_F(ImageExportTest, AFileThatCannotBeWrittenIsReportedByName) {
    const auto image = MakeImage(4, 4, 1, 1, 16);
    const std::string missingDir = Path("no_such_dir") + "/image.pgm";
    EXPECT_TRUE(
        Throws<std::runtime_error>([&] { client.SaveImage(missingDir, image); },
                                   "SaveImage: cannot open " + missingDir + " for writing"));
    EXPECT_FALSE(Exists(missingDir));
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client.SaveImage(dir, image); },
                                           "SaveImage: cannot open " + dir + " for writing"));
    EXPECT_TRUE(Throws<std::runtime_error>([&] { client.SaveImage("", image); },
                                           "SaveImage: cannot open  for writing"));
    // A device that takes no byte: the write fails although the open succeeded.
    if (Exists("/dev/full")) {
        EXPECT_TRUE(Throws<std::runtime_error>([&] { client.SaveImage("/dev/full", image); },
                                               "SaveImage: cannot write /dev/full"));
        EXPECT_TRUE(Throws<std::runtime_error>(
            [&] { client.SaveImage("/dev/full", MakeImage(4, 4, 1, 1, 0)); },
            "SaveImage: cannot write /dev/full"));
    }
}

}  // namespace
}  // namespace Varkon::QUILApi

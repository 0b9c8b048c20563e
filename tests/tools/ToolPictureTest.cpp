// The tool's pictures and clouds as other programs read them (python3-pil, python3-meshio): axes
// around a height map, a flat belt drawn flat, one unit on all axes of a cloud, gaps where
// profiles were lost.
#include "Plot.h"
#include "RunTool.h"

#include <quil/sim/VirtualSensor.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace QuilTool::Testing {
namespace {

using nlohmann::json;

std::string Python(const std::string& script, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"-c", script};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const ToolRun run = RunProgram("/usr/bin/python3", all);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

class ToolPictureTest : public ::testing::Test {
protected:
    // A virtual sensor on the test's own address and UDP port.
    void Start(double loss = 0) {
        address = TestAddress();
        port = std::to_string(TestPort());
        Varkon::QUILApi::Sim::VirtualSensorOptions options;
        options.address = address;
        options.pointsPerProfile = 64;
        options.profileRate = 1000;
        options.faults.datagramLoss = loss;
        sensor = std::make_unique<Varkon::QUILApi::Sim::VirtualSensor>(options);
        base = "/tmp/quil-tool-picture-" + std::to_string(getpid()) + "-" + port;
    }
    void TearDown() override { std::system(("rm -f " + base + "*").c_str()); }

    ToolRun Tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--host", address, "--role", "maintenance"});
        return RunTool(arguments, 60, {"QUIL_PASSWORD=maintenance", "QUIL_PORT=" + port});
    }

    std::string address;
    std::string port;
    std::string base;
    std::unique_ptr<Varkon::QUILApi::Sim::VirtualSensor> sensor;
};

TEST_F(ToolPictureTest, AFlatBeltIsDrawnFlatBetweenAxes) {
    Start();
    // A field of view just around the belt: the objects on it lie nearer than its near limit.
    ASSERT_EQ(Tool({"set", "fov-distance", "near=348", "far=370"}).status, 0);
    const ToolRun run =
        Tool({"plot", "heightmap", base + ".png", "--count", "40", "--colours", "grey", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json map = json::parse(run.out).at("map");
    // Inside the map the grey values of the belt stay close; the axes run along its left and
    // bottom edges; the file is compressed (a tenth of the raw pixels is plenty).
    const std::string out = Python(
        "import os, sys; from PIL import Image\n"
        "im = Image.open(sys.argv[1]).convert('L'); l, t, w, h = map(int, sys.argv[2:])\n"
        "belt = [im.getpixel((x, y)) for x in range(l, l + w) for y in range(t, t + h)]\n"
        "belt = [g for g in belt if g != 255]\n"
        "left = {im.getpixel((l - 1, y)) for y in range(t, t + h)}\n"
        "bottom = {im.getpixel((x, t + h)) for x in range(l, l + w)}\n"
        "small = os.path.getsize(sys.argv[1]) * 10 < im.size[0] * im.size[1] * 3\n"
        "print(len(belt) > w * h // 2, max(belt) - min(belt) < 40, left, bottom, small)",
        {base + ".png", std::to_string(map.at("left").get<int>()),
         std::to_string(map.at("top").get<int>()), std::to_string(map.at("width").get<int>()),
         std::to_string(map.at("height").get<int>())});
    EXPECT_EQ(out, "True True {0} {0} True\n");
}

TEST_F(ToolPictureTest, ACloudHasOneUnitOnAllAxesAndGapsWhereProfilesWereLost) {
    Start(0.1);
    const ToolRun run = Tool({"stream", "--count", "200", "--format", "ply", "-o", base + ".ply",
                              "--y-step", "0.5", "--allow-loss"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(ReadFile(base + ".ply")
                  .find("comment units: x, y and z in mm; profiles 0.5 mm "
                        "apart along y by block id\n"),
              std::string::npos);
    // x within the field of view's lateral limits and z within its depth (heights above the
    // far limit), both in mm; y rows 0.5 mm apart, with rows missing where blocks were lost.
    const std::string out = Python(
        "import sys, meshio\n"
        "p = meshio.read(sys.argv[1]).points\n"
        "ys = sorted({round(float(y) / 0.5) for y in p[:, 1]})\n"
        "print(p[:, 0].min() >= -60, p[:, 0].max() <= 60, p[:, 2].min() >= 0, "
        "p[:, 2].max() <= 130, len(ys), ys[-1] - ys[0] + 1 > len(ys))",
        {base + ".ply"});
    EXPECT_EQ(out, "True True True True 200 True\n");
}

// Axis ticks for any range, whatever a recording's description or a sensor claims: a bounded
// number of finite, rising values within the range; none for a limit that is not a number.
TEST(PlotTicks, AnyRangeGivesAFewFiniteRisingTicks) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kMax = std::numeric_limits<double>::max();
    const struct {
        double low, high;
        std::size_t atLeast;
    } cases[] = {
        {0, 10, 6},         {-0.3, 0.3, 3},      {1e17, 1e17 + 16, 1}, {5, 5, 1},
        {-kMax, kMax, 1},   {0, 5e-324, 1},      {1e-300, 3e-300, 3},  {kNaN, 1, 0},
        {0, kNaN, 0},       {0, kInf, 0},        {-kInf, kInf, 0},     {7, 3, 1},
        {-1e308, 1e308, 3}, {4e15, 4e15 + 1, 1},
    };
    constexpr int kMost = 6;
    for (const auto& c : cases) {
        const std::vector<double> ticks = Ticks(c.low, c.high, kMost);
        const std::string range = std::to_string(c.low) + " to " + std::to_string(c.high);
        EXPECT_GE(ticks.size(), c.atLeast) << range;
        EXPECT_LE(ticks.size(), kMost + 2u) << range;
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            EXPECT_TRUE(std::isfinite(ticks[i])) << range;
            EXPECT_TRUE(i == 0 || ticks[i] > ticks[i - 1]) << range;
        }
    }
    EXPECT_EQ(Ticks(0, 10, kMost), (std::vector<double>{0, 2, 4, 6, 8, 10}));
}

}  // namespace
}  // namespace QuilTool::Testing

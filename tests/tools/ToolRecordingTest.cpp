// quil record, quil replay and the commands that read a recording (--from), against a virtual
// sensor.
#include "RunTool.h"
#include "support/Wait.h"

#include <quil/Quil.h>
#include <quil/sim/VirtualSensor.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

namespace QuilTool::Testing {
namespace {

using nlohmann::json;

TEST(ToolRecordingTest, RecordThenReadStreamPlotAndReplayTheRecording) {
    Varkon::QUILApi::Sim::VirtualSensorOptions options;
    options.address = TestAddress();
    options.pointsPerProfile = 64;
    options.profileRate = 1000;
    Varkon::QUILApi::Sim::VirtualSensor sensor(options);
    const std::string directory = "/tmp/quil-tool-recording-" + std::to_string(getpid());
    std::system(("mkdir -p " + directory).c_str());
    const std::string capture = directory + "/line.pcap";
    const auto before = sensor.Read("ProcessInterfaces");

    const ToolRun recorded = RunTool({"record", capture, "--count", "100", "--data-ids", "0", "3",
                                      "--port", std::to_string(TestPort()), "--host", TestAddress(),
                                      "--role", "maintenance", "--password", "maintenance"});
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    EXPECT_NE(recorded.out.find("recorded "), std::string::npos) << recorded.out;
    EXPECT_NE(recorded.out.find(" datagrams to " + capture + " (described in " + directory +
                                "/line.json)\n"),
              std::string::npos)
        << recorded.out;
    EXPECT_EQ(sensor.Read("ProcessInterfaces"), before);  // put back
    const json description = json::parse(ReadFile(directory + "/line.json"));
    EXPECT_EQ(description.at("sensor").at("settings").at("exposure-time"),
              sensor.Read("ExposureTime").at("ExposureTime"));
    EXPECT_EQ(description.at("sensor").at("recordedDataIds"), json({0, 3}));
    const uint64_t profiles = description.at("counters").at("profileBlocks3");
    EXPECT_GE(profiles, 100u);

    // Every exporter reads the recording as it would read the sensor.
    const ToolRun streamed = RunTool({"stream", "--from", capture, "--format", "jsonl", "-o",
                                      directory + "/line.jsonl", "--json"});
    ASSERT_EQ(streamed.status, 0) << streamed.err;
    const json summary = json::parse(streamed.out);
    EXPECT_EQ(summary.at("profiles"), profiles);
    EXPECT_EQ(summary.at("measurements"), description.at("counters").at("measurementBlocks"));
    // A folder of pieces (here one, as a black box keeps them) reads as the recording.
    std::system(("mkdir -p " + directory + "/kept && cp " + capture + " " + directory +
                 "/kept/00000001.pcap && cp " + directory + "/line.json " + directory +
                 "/kept/00000001.json")
                    .c_str());
    const ToolRun kept = RunTool({"stream", "--from", directory + "/kept", "--format", "jsonl",
                                  "-o", directory + "/kept.jsonl", "--json"});
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(json::parse(kept.out).at("profiles"), profiles);
    // Profiles and measurements have block ids of their own: consecutive profiles lie one
    // y step apart in a cloud, not two.
    const ToolRun cloud = RunTool({"stream", "--from", capture, "--format", "ply", "--ascii",
                                   "--y-step", "1", "-o", directory + "/line.ply"});
    ASSERT_EQ(cloud.status, 0) << cloud.err;
    std::istringstream ply(ReadFile(directory + "/line.ply"));
    std::set<double> ys;
    bool inPoints = false;
    for (std::string line; std::getline(ply, line);) {
        if (inPoints) {
            std::istringstream point(line);
            double x = 0, y = 0;
            point >> x >> y;
            ys.insert(y);
        }
        inPoints = inPoints || line == "end_header";
    }
    ASSERT_FALSE(ys.empty());
    EXPECT_EQ(*ys.rbegin(), static_cast<double>(profiles - 1));
    const ToolRun plotted =
        RunTool({"plot", "heightmap", directory + "/map.pgm", "--from", capture, "--count", "50"});
    ASSERT_EQ(plotted.status, 0) << plotted.err;
    std::istringstream map(ReadFile(directory + "/map.pgm"));
    std::string magic;
    int columns = 0, rows = 0;
    map >> magic >> columns >> rows;
    EXPECT_EQ(magic, "P5");
    EXPECT_EQ(rows, 50);  // one row per profile

    // quil replay sends every datagram to a port where a stream takes them.
    auto client = Varkon::QUILApi::Quil::Create(TestAddress(1), TestPort(1));
    auto stream = client->GetStream();
    stream->Start();
    const ToolRun replayed =
        RunTool({"replay", capture, "--to", "127.0.0.1:" + std::to_string(TestPort(1)), "--rate",
                 "4", "--json"});
    ASSERT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(json::parse(replayed.out).at("datagrams"),
              description.at("recording").at("datagramsWritten"));
    EXPECT_TRUE(Varkon::QUILApi::Testing::WaitUntil(
        [&] { return stream->GetStatistics().profileBlocks3 == profiles; }));
    EXPECT_EQ(stream->GetStatistics().blocksLost, 0u);
    std::system(("rm -rf " + directory).c_str());
}

// A recording cut short or corrupted in the middle: the exporters write what came before the
// damage, say in their summary where it is, and fail. Datagrams that a capture's snap length cut
// are skipped and counted.
TEST(ToolRecordingTest, DamagedRecordingsAreReadUpToTheDamage) {
    Varkon::QUILApi::Sim::VirtualSensorOptions options;
    options.address = TestAddress();
    options.pointsPerProfile = 64;
    options.profileRate = 1000;
    Varkon::QUILApi::Sim::VirtualSensor sensor(options);
    const std::string directory = "/tmp/quil-tool-damaged-" + std::to_string(getpid());
    std::system(("mkdir -p " + directory).c_str());
    const std::string capture = directory + "/line.pcap";
    ASSERT_EQ(
        RunTool({"record", capture, "--count", "200", "--port", std::to_string(TestPort()),
                 "--host", TestAddress(), "--role", "maintenance", "--password", "maintenance"})
            .status,
        0);
    // The middle record's length made huge; the file cut inside its last half; records held
    // only in part, as a small snap length keeps them: every tenth, one, or all of them.
    const ToolRun damaged =
        RunProgram("/usr/bin/python3",
                   {"-c",
                    "import struct, sys\n"
                    "data = bytearray(open(sys.argv[1], 'rb').read())\n"
                    "starts, at = [], 24\n"
                    "while at + 16 <= len(data):\n"
                    "    starts.append(at); at += 16 + struct.unpack_from('<I', data, at + 8)[0]\n"
                    "middle = starts[len(starts) // 2]\n"
                    "open(sys.argv[1] + '.cut.pcap', 'wb').write(data[:middle + 20])\n"
                    "def snap(name, cut):\n"
                    "    snapped = bytearray(data[:24])\n"
                    "    for i, at in enumerate(starts):\n"
                    "        size = struct.unpack_from('<I', data, at + 8)[0]\n"
                    "        kept = min(size, 60) if cut(i) else size\n"
                    "        snapped += data[at:at + 8] + struct.pack('<I', kept) + "
                    "data[at + 12:at + 16] + data[at + 16:at + 16 + kept]\n"
                    "    open(sys.argv[1] + name, 'wb').write(snapped)\n"
                    "snap('.snapped.pcap', lambda i: i % 10 == 5)\n"
                    "snap('.one-snapped.pcap', lambda i: i == 5)\n"
                    "snap('.all-snapped.pcap', lambda i: True)\n"
                    "print(sum(1 for i in range(len(starts)) if i % 10 == 5), len(starts))\n"
                    "struct.pack_into('<I', data, middle + 8, 0x7FFFFFF0)\n"
                    "open(sys.argv[1] + '.corrupt.pcap', 'wb').write(data)\n",
                    capture});
    ASSERT_EQ(damaged.status, 0) << damaged.err;
    for (const std::string& file : {capture + ".cut.pcap", capture + ".corrupt.pcap"}) {
        SCOPED_TRACE(file);
        const ToolRun streamed =
            RunTool({"stream", "--from", file, "-o", directory + "/line.csv", "--json"});
        EXPECT_EQ(streamed.status, 1);
        const json summary = json::parse(streamed.out);
        EXPECT_GT(summary.at("profiles").get<uint64_t>(), 50u);
        EXPECT_LT(summary.at("profiles").get<uint64_t>(), 150u);
        const uint64_t record = summary.at("damage").at("afterRecord");
        EXPECT_GT(record, 50u);
        EXPECT_EQ(streamed.err.rfind("quil: Recording " + file + " is damaged: ", 0), 0u)
            << streamed.err;
        EXPECT_NE(streamed.err.find("; read up to record " + std::to_string(record) + "\n"),
                  std::string::npos)
            << streamed.err;
        const std::string csv = ReadFile(directory + "/line.csv");
        EXPECT_EQ(static_cast<uint64_t>(std::count(csv.begin(), csv.end(), '\n')),
                  1 + summary.at("profiles").get<uint64_t>() * 64);

        // The height map reads to the end by default, here the damage.
        const ToolRun plotted =
            RunTool({"plot", "heightmap", directory + "/map.pgm", "--from", file, "--json"});
        EXPECT_EQ(plotted.status, 1);
        const json drawn = json::parse(plotted.out);
        EXPECT_EQ(drawn.at("profiles"), summary.at("profiles"));
        EXPECT_EQ(drawn.at("damage").at("afterRecord"), record);
    }
    // What the capture cut is lost: said in the summary, and the exit status tells it.
    std::istringstream counted(damaged.out);
    uint64_t everyTenth = 0, records = 0;
    counted >> everyTenth >> records;
    const struct {
        std::string file;
        uint64_t cut;
        std::string words;
    } snappedCases[] = {
        {".snapped.pcap", everyTenth, std::to_string(everyTenth) + " datagrams"},
        {".one-snapped.pcap", 1, "1 datagram"},
        {".all-snapped.pcap", records, std::to_string(records) + " datagrams"},
    };
    for (const auto& c : snappedCases) {
        SCOPED_TRACE(c.file);
        const std::string file = capture + c.file;
        const ToolRun streamed =
            RunTool({"stream", "--from", file, "-o", directory + "/line.csv", "--json"});
        EXPECT_EQ(streamed.status, 3);
        const json summary = json::parse(streamed.out);
        EXPECT_EQ(summary.at("datagramsCutByCapture"), c.cut) << streamed.err;
        EXPECT_EQ(summary.at("lostData"), true);
        // Skipped datagrams may leave gaps in the blocks' numbering as well.
        EXPECT_EQ(streamed.err.rfind("quil: the capture lost ", 0), 0u) << streamed.err;
        EXPECT_NE(streamed.err.find(" and " + c.words +
                                    " cut by the capture; give --allow-loss to accept loss\n"),
                  std::string::npos)
            << streamed.err;
        const ToolRun told =
            RunTool({"stream", "--from", file, "-o", directory + "/line.csv", "--allow-loss"});
        EXPECT_EQ(told.status, 0) << told.err;
        EXPECT_NE(told.out.find("; and " + c.words + " cut by the capture (below)\n"),
                  std::string::npos)
            << told.out;
        EXPECT_NE(told.out.find("\ncut by the capture: " + c.words + " held only in part"),
                  std::string::npos)
            << told.out;
    }
    std::system(("rm -rf " + directory).c_str());
}

TEST(ToolRecordingTest, RecordingFailuresAreOneLine) {
    const std::string empty = "/tmp/quil-tool-empty-" + std::to_string(getpid());
    std::system(("mkdir -p " + empty).c_str());
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{"stream", "--from", "/nonexistent/line.pcap"},
         1,
         "quil: Could not open recording /nonexistent/line.pcap: No such file or directory\n"},
        {{"stream", "--from", empty},
         1,
         "quil: Could not open recording " + empty + ": it holds no capture\n"},
        {{"replay", "/nonexistent/line.pcap", "--to", "localhost"},
         2,
         "quil: --to must be an IPv4 address and a port, e.g. 127.0.0.1:5000; got "
         "\"localhost\"\n"},
        {{"replay", "/nonexistent/line.pcap", "--to", "127.0.0.1:5000", "--rate", "0"},
         2,
         "quil: --rate must be a multiple of the recorded pace from 0.001 to 1000, or max; got "
         "\"0\"\n"},
        {{"replay", "/nonexistent/line.pcap", "--to", "127.0.0.1:5000", "--rate", "1e-300"},
         2,
         "quil: --rate must be a multiple of the recorded pace from 0.001 to 1000, or max; got "
         "\"1e-300\"\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments[0];
        EXPECT_EQ(run.err, c.err);
    }
    std::system(("rm -rf " + empty).c_str());
}

}  // namespace
}  // namespace QuilTool::Testing

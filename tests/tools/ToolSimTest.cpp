// The command-line tool against a virtual sensor: each subcommand's output, the files it
// writes (read back with Debian's netpbm, python3-pil and python3-meshio), and the stream's
// counts under injected loss.
#include "RunTool.h"
#include "support/Wait.h"

#include <quil/sim/VirtualSensor.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace QuilTool::Testing {
namespace {

using nlohmann::json;
using Varkon::QUILApi::Sim::VirtualSensor;
using Varkon::QUILApi::Sim::VirtualSensorOptions;
using Varkon::QUILApi::Testing::WaitUntil;

const char* kMaintenance[] = {"--role", "maintenance", "--password", "maintenance"};

/// The number after `words` in a summary, e.g. Count(out, "\nlost ").
uint64_t Count(const std::string& text, const std::string& words) {
    const auto at = text.find(words);
    return at == std::string::npos ? ~uint64_t{0} : std::stoull(text.substr(at + words.size()));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

/// Reads a file with a reader the team did not write; prints what the script prints.
std::string PythonReads(const std::string& script, const std::string& file) {
    const ToolRun run = RunProgram("/usr/bin/python3", {"-c", script, file});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

class ToolSimTest : public ::testing::Test {
protected:
    // A virtual sensor on the test's own address and UDP port.
    void Start(uint32_t points = 64) {
        address = TestAddress();
        port = std::to_string(TestPort());
        VirtualSensorOptions options;
        options.address = address;
        options.pointsPerProfile = points;
        options.profileRate = 1000;
        sensor = std::make_unique<VirtualSensor>(options);
        directory = "/tmp/quil-tool-sim-" + std::to_string(getpid()) + "-" + port;
        std::system(("mkdir -p " + directory).c_str());
    }
    void TearDown() override {
        if (!directory.empty()) {
            std::system(("rm -rf " + directory).c_str());
        }
    }

    ToolRun Tool(std::vector<std::string> arguments, bool asMaintenance = false) {
        arguments.insert(arguments.end(), {"--host", address});
        if (asMaintenance) {
            arguments.insert(arguments.end(), std::begin(kMaintenance), std::end(kMaintenance));
        }
        return RunTool(arguments);
    }

    std::string File(const std::string& name) const { return directory + "/" + name; }

    std::string address;
    std::string port;
    std::string directory;
    std::unique_ptr<VirtualSensor> sensor;
};

TEST_F(ToolSimTest, InfoNamesTheSensor) {
    Start();
    const ToolRun text = Tool({"info"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("serial:      SIM-"), std::string::npos) << text.out;
    const json identity = json::parse(Tool({"info", "--json"}).out);
    EXPECT_EQ(identity.at("serialNumber"), sensor->Read("SensorMetaData").at("serialNumber"));
}

TEST_F(ToolSimTest, WritesNeedARoleAndTheErrorSaysWhichLine) {
    Start();
    const ToolRun refused = Tool({"set", "exposure-time", "800"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.rfind("quil: ", 0), 0u);
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    const ToolRun wrong = Tool({"login", "maintenance", "--password", "guess"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "quil: wrong password for role \"maintenance\"\n");
    const ToolRun right = Tool({"login", "maintenance", "--password", "maintenance"});
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(right.out, "logged in as maintenance\n");
}

TEST_F(ToolSimTest, EverySettingCanBeShownAsJson) {
    Start();
    const ToolRun run = Tool({"get", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json document = json::parse(run.out);  // one document, not one per line
    EXPECT_EQ(document.at("schema"), 1);
    std::set<std::string> names;
    for (const json& entry : document.at("settings")) {
        names.insert(entry.at("name").get<std::string>());
        EXPECT_TRUE(entry.contains("value")) << entry;
    }
    EXPECT_EQ(names.size(), 17u);
    EXPECT_EQ(json::parse(Tool({"get", "exposure-time", "--json"}).out).at("value"),
              sensor->Read("ExposureTime").at("ExposureTime"));
}

// A choice by the name the sensor's description gives it, in any case, as well as by number;
// `quil set` and `quil config load` alike.
TEST_F(ToolSimTest, ChoicesAreTakenByNameOrNumber) {
    Start();
    const struct {
        bool inDocument;  // the change made in a saved document, which is then loaded
        std::vector<std::string> set;
        std::string resource;
        json expected;
    } cases[] = {
        {false, {"trigger", "triggerMode=software"}, "Trigger", {{"triggerMode", 1}}},
        {false, {"trigger", "triggerMode=0"}, "Trigger", {{"triggerMode", 0}}},
        {false,
         {"udp-stream-data", "enabledDataIDs=[\"MEASUREMENT VALUES\",1]"},
         "UDPStreamData",
         {{"enabledDataIDs", {0, 1}}}},
        {true, {"trigger", "triggerMode=\"SOFTWARE\""}, "Trigger", {{"triggerMode", 1}}},
        {true,
         {"udp-stream-data", "enabledDataIDs=[0,\"profile: z, brightness\"]"},
         "UDPStreamData",
         {{"enabledDataIDs", {0, 2}}}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"set"};
        arguments.insert(arguments.end(), c.set.begin(), c.set.end());
        if (c.inDocument) {
            ASSERT_EQ(Tool({"config", "save", File("choices.json")}).status, 0);
            json document = json::parse(ReadFile(File("choices.json")));
            const auto equals = c.set[1].find('=');
            document[c.set[0]][c.set[1].substr(0, equals)] =
                json::parse(c.set[1].substr(equals + 1));
            std::ofstream(File("choices.json")) << document;
            arguments = {"config", "load", File("choices.json")};
        }
        const ToolRun run = Tool(arguments, true);
        ASSERT_EQ(run.status, 0) << run.err;
        for (const auto& [member, value] : c.expected.items()) {
            EXPECT_EQ(sensor->Read(c.resource).at(member), value) << c.set[1];
        }
    }
}

TEST_F(ToolSimTest, ConfigLoadPutsSavedSettingsBack) {
    Start();
    ASSERT_EQ(Tool({"config", "save", File("config.json")}).status, 0);
    ASSERT_EQ(Tool({"set", "exposure-time", "900"}, true).status, 0);
    ASSERT_EQ(Tool({"set", "resampling", "enabled=true"}, true).status, 0);
    const ToolRun load = Tool({"config", "load", File("config.json")}, true);
    EXPECT_EQ(load.status, 0) << load.err;
    const json saved = json::parse(ReadFile(File("config.json")));
    EXPECT_EQ(sensor->Read("ExposureTime").at("ExposureTime"), saved.at("exposure-time"));
    EXPECT_EQ(sensor->Read("Resampling").at("enabled"), saved.at("resampling").at("enabled"));
}

TEST_F(ToolSimTest, RestoreOfABackupLeavesTheSettingsAsTheyWere) {
    Start();
    ASSERT_EQ(Tool({"backup", File("before.txt")}).status, 0);
    ASSERT_EQ(Tool({"set", "laser-power", "0.05"}, true).status, 0);
    ASSERT_EQ(Tool({"set", "fov", "height=30"}, true).status, 0);
    const ToolRun restore = Tool({"restore", File("before.txt"), "--yes"}, true);
    EXPECT_EQ(restore.status, 0) << restore.err;
    ASSERT_EQ(Tool({"backup", File("after.txt")}).status, 0);
    EXPECT_EQ(ReadFile(File("after.txt")), ReadFile(File("before.txt")));
}

TEST_F(ToolSimTest, ImageIsAGreyMapThatNetpbmReads) {
    Start();
    const ToolRun run = Tool({"image", File("camera.pgm")});
    ASSERT_EQ(run.status, 0) << run.err;
    const ToolRun info = RunProgram("pamfile", {File("camera.pgm")});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("PGM raw"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("maxval 255"), std::string::npos) << info.out;
}

TEST_F(ToolSimTest, ProfileIsCsvWithOneRowPerPoint) {
    Start();
    const ToolRun run = Tool({"profile"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("x,z\n", 0), 0u);
    const json profile = json::parse(Tool({"profile", "--json"}).out);
    const auto rows = std::count(run.out.begin(), run.out.end(), '\n') - 1;
    EXPECT_EQ(static_cast<std::size_t>(rows), profile.at("x").size());
    // Millimetres by default (the first x is "xStart", sent in hundredths of a millimetre);
    // --raw: the sensor's integers.
    ASSERT_FALSE(profile.at("x").empty());
    EXPECT_EQ(profile.at("unit"), "mm");
    EXPECT_DOUBLE_EQ(profile.at("x")[0].get<double>(), profile.at("xStart").get<double>() / 100.0);
    const json raw = json::parse(Tool({"profile", "--json", "--raw"}).out);
    ASSERT_FALSE(raw.at("x").empty());
    EXPECT_EQ(raw.at("x")[0], raw.at("xStart"));
}

TEST_F(ToolSimTest, MeasureNamesTheValues) {
    Start();
    const ToolRun run = Tool({"measure", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json values = json::parse(run.out).at("values");
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(values[0].contains("name")) << run.out;
}

TEST_F(ToolSimTest, StreamWritesAPointCloudInMillimetresThatMeshioReads) {
    const struct {
        const char* option;
        const char* format;
    } cases[] = {{"--allow-loss", "format binary_little_endian 1.0\n"},
                 {"--ascii", "format ascii 1.0\n"}};
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const ToolRun run = Tool({"stream", "--count", "50", "--port", port, "--format", "ply",
                                  c.option, "-o", File("scan.ply")},
                                 true);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("lost 0 blocks\nother stream problems: none\n"), std::string::npos)
            << run.out;
        const std::string cloud = ReadFile(File("scan.ply"));
        const std::string header = cloud.substr(0, cloud.find("end_header\n"));
        EXPECT_NE(header.find(c.format), std::string::npos) << header;
        EXPECT_NE(header.find("comment units: x, y and z in mm;"), std::string::npos);
        EXPECT_NE(header.find("comment sensor: "), std::string::npos) << header;
        EXPECT_NE(header.find(sensor->Read("SensorMetaData").at("serialNumber").get<std::string>()),
                  std::string::npos);
        // Heights above the far limit, within the field of view's depth of 130 mm.
        EXPECT_EQ(PythonReads("import meshio, sys; p = meshio.read(sys.argv[1]).points; "
                              "print(len(p) > 0, 0 <= p[:, 2].min() <= p[:, 2].max() <= 130, "
                              "-60 <= p[:, 0].min() <= p[:, 0].max() <= 60)",
                              File("scan.ply")),
                  "True True True\n");
    }
    // PCD by the file's suffix: its header, and its points read back within the same bounds,
    // the brightness as their intensity.
    const ToolRun pcd =
        Tool({"stream", "--count", "50", "--port", port, "--data-ids", "3", "-o", File("scan.pcd")},
             true);
    ASSERT_EQ(pcd.status, 0) << pcd.err;
    EXPECT_EQ(PythonReads(
                  "import numpy, sys\n"
                  "data = open(sys.argv[1], 'rb').read()\n"
                  "end = data.index(b'DATA binary\\n') + len(b'DATA binary\\n')\n"
                  "header = dict(line.split(' ', 1) for line in data[:end].decode().splitlines()\n"
                  "              if not line.startswith('#'))\n"
                  "p = numpy.frombuffer(data[end:], dtype='<f4').reshape(-1, 4)\n"
                  "print(header['FIELDS'], '|', header['SIZE'], '|', header['TYPE'], '|',\n"
                  "      header['VIEWPOINT'], '|', header['HEIGHT'],\n"
                  "      header['WIDTH'] == header['POINTS'] == str(len(p)), len(p) > 0,\n"
                  "      0 <= p[:, 2].min() <= p[:, 2].max() <= 130,\n"
                  "      -60 <= p[:, 0].min() <= p[:, 0].max() <= 60, p[:, 3].max() > 0)",
                  File("scan.pcd")),
              "x y z intensity | 4 4 4 4 | F F F F | 0 0 0 1 0 0 0 | 1 True True True True True\n");
    // The sensor's output is back as the tool found it.
    EXPECT_EQ(sensor->Read("ProcessInterfaces").at("enableUDPStreaming"), false);
}

TEST_F(ToolSimTest, StreamCsvHoldsOneTableInMillimetresOrWords) {
    const struct {
        std::vector<std::string> options;
        const char* profileHeader;
    } cases[] = {
        {{"--raw"}, "dataId,blockId,timestamp,acquisitionIndex,encoder,point,channel0,channel1"},
        {{}, "dataId,blockId,timestamp,acquisitionIndex,encoder,point,x,z"},  // checked below
    };
    Start(16);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profileHeader);
        std::vector<std::string> arguments = {"stream", "--count",      "20", "--port",
                                              port,     "--data-ids",   "0",  "1",
                                              "-o",     File("out.csv")};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const ToolRun run = Tool(arguments, true);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("files: " + File("out.csv") + " (profiles), " +
                               File("out.measurements.csv") + " (measurements)\n"),
                  std::string::npos)
            << run.out;
        const auto profiles = Lines(ReadFile(File("out.csv")));
        const auto measurements = Lines(ReadFile(File("out.measurements.csv")));
        ASSERT_GT(profiles.size(), 20u * 16u);
        ASSERT_GT(measurements.size(), 1u);
        EXPECT_EQ(profiles[0], c.profileHeader);
        EXPECT_EQ(measurements[0],
                  "dataId,blockId,timestamp,qualityID,encoder,measrate,value0,value1,value2,value3,"
                  "value4,value5,value6");
        for (const auto* table : {&profiles, &measurements}) {
            const auto columns = std::count((*table)[0].begin(), (*table)[0].end(), ',');
            for (std::size_t i = 1; i < table->size(); ++i) {
                const std::string& row = (*table)[i];
                ASSERT_EQ(std::count(row.begin(), row.end(), ','), columns) << row;
                ASSERT_NE(row.back(), ',') << row;
                ASSERT_NE(row.rfind("dataId", 0), 0u) << "a second header";
            }
        }
    }
    // Millimetres as the library converts them: x within the field of view, z within its depth.
    EXPECT_EQ(PythonReads("import csv, sys; rows = list(csv.DictReader(open(sys.argv[1]))); "
                          "x = [float(r['x']) for r in rows]; "
                          "z = [float(r['z']) for r in rows if r['z'] != 'NaN']; "
                          "print(-60 <= min(x) < max(x) <= 60, z and 0 <= min(z) <= max(z) <= 130)",
                          File("out.csv")),
              "True True\n");
    const ToolRun toTerminal =
        Tool({"stream", "--count", "5", "--port", port, "--data-ids", "0", "1"}, true);
    EXPECT_EQ(toTerminal.status, 2) << toTerminal.err;
}

TEST_F(ToolSimTest, StreamSecondsIsTheSensorsTimeDrainedToTheEnd) {
    Start(16);  // 1000 profiles a second, each one datagram
    const ToolRun run = Tool({"stream", "--seconds", "1", "--port", port, "--format", "jsonl",
                              "--raw", "-o", File("second.jsonl"), "--json"},
                             true);
    ASSERT_EQ(run.status, 0) << run.err;
    const json summary = json::parse(run.out);
    std::vector<json> lines;
    for (const auto& line : Lines(ReadFile(File("second.jsonl")))) {
        lines.push_back(json::parse(line));
    }
    ASSERT_FALSE(lines.empty());
    const uint64_t first = lines.front().at("timestamp");
    for (const auto& line : lines) {
        EXPECT_LT(line.at("timestamp").get<uint64_t>() - first, 1000000u) << line.at("blockId");
    }
    // Every acquisition of the second is written or counted as lost.
    EXPECT_EQ(summary.at("profiles").get<uint64_t>(), lines.size());
    EXPECT_EQ(lines.size() + summary.at("lost").get<uint64_t>(), 1000u) << run.out;
    EXPECT_EQ(lines.back().at("acquisitionIndex").get<uint64_t>() -
                  lines.front().at("acquisitionIndex").get<uint64_t>(),
              999u);
}

TEST_F(ToolSimTest, StreamWithoutALimitEndsCleanlyAtCtrlC) {
    Start(16);
    const std::string output = File("endless.jsonl");
    BackgroundTool tool({"stream", "--port", port, "--format", "jsonl", "-o", output, "--host",
                         address, "--role", "maintenance", "--password", "maintenance"},
                        File("endless"));
    const uint64_t sent = sensor->BlocksSent();
    ASSERT_TRUE(
        WaitUntil([&] { return sensor->BlocksSent() > sent + 200; }, std::chrono::seconds(10)));
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.Wait(), 0) << tool.Err();
    EXPECT_EQ(Count(tool.Out(), "wrote "), Lines(ReadFile(output)).size()) << tool.Out();
    EXPECT_GE(Count(tool.Out(), "wrote "), 150u) << tool.Out();
    EXPECT_EQ(sensor->Read("ProcessInterfaces").at("enableUDPStreaming"), false);
}

TEST_F(ToolSimTest, StreamCountsLostAndDuplicatedBlocks) {
    Start(16);  // small profiles: one datagram is one block
    Varkon::QUILApi::Sim::FaultRates faults;
    faults.datagramLoss = 0.05;
    faults.datagramDuplicate = 0.05;
    sensor->SetFaults(faults);
    const ToolRun run = Tool(
        {"stream", "--count", "400", "--port", port, "--format", "jsonl", "-o", File("scan.jsonl")},
        true);
    ASSERT_EQ(run.status, 3) << run.err;  // data were lost
    const uint64_t lost = Count(run.out, "\nlost ");
    EXPECT_EQ(run.err, "quil: the capture lost " + std::to_string(lost) +
                           " blocks; give --allow-loss to accept loss\n");
    // The sensor numbered them, the datagrams never came.
    EXPECT_NE(run.out.find("\nlost " + std::to_string(lost) + " blocks: " + std::to_string(lost) +
                           " missing in the sensor's numbering"),
              std::string::npos)
        << run.out;

    std::ifstream lines(File("scan.jsonl"));
    std::set<uint32_t> ids;
    std::size_t received = 0;
    for (std::string line; std::getline(lines, line); ++received) {
        ids.insert(json::parse(line).at("blockId").get<uint32_t>());
    }
    ASSERT_EQ(received, 400u);
    EXPECT_EQ(ids.size(), received) << "a duplicate reached the file";
    const uint64_t missing = *ids.rbegin() - *ids.begin() + 1 - ids.size();
    EXPECT_GT(missing, 0u);
    // The stream also counts blocks lost after the last one written, before the output stopped.
    const json summary =
        json::parse(Tool({"stream", "--count", "400", "--port", port, "--format", "jsonl", "-o",
                          File("again.jsonl"), "--allow-loss", "--json"},
                         true)
                        .out);
    EXPECT_GT(summary.at("lost").get<uint64_t>(), 0u);
    uint64_t byCause = 0;
    for (const auto& [cause, count] : summary.at("lostByCause").items()) {
        byCause += count.get<uint64_t>();
    }
    EXPECT_EQ(byCause, summary.at("lost").get<uint64_t>());
    EXPECT_GT(summary.at("statistics").at("blocksDuplicated").get<uint64_t>(), 0u);
    EXPECT_GE(lost, missing) << run.out;
    EXPECT_NE(run.out.find(" repeated blocks (written once)"), std::string::npos) << run.out;
}

TEST_F(ToolSimTest, PicturesAreReadableImages) {
    Start();
    // Each picture as another program reads it: an SVG's root element, else its mode (and the
    // size of bare heights); a camera image the same by either suffix.
    const char* const kRead =
        "import sys, xml.etree.ElementTree as t\nfrom PIL import Image\nf = sys.argv[1]\n"
        "if f.endswith('.svg'): print(t.parse(f).getroot().tag)\n"
        "else: im = Image.open(f); im.load(); print(im.mode, *(im.size,) * ('map.pgm' in f))";
    const struct {
        std::vector<std::string> command;
        std::string file;
        std::string read;
    } cases[] = {
        {{"plot", "profile"}, "profile.svg", "{http://www.w3.org/2000/svg}svg\n"},
        {{"plot", "profile"}, "profile.png", "RGB\n"},
        {{"plot", "heightmap", "--count", "40", "--port", port}, "map.png", "RGB\n"},
        {{"plot", "heightmap", "--count", "40", "--port", port},
         "map.svg",
         "{http://www.w3.org/2000/svg}svg\n"},
        {{"plot", "heightmap", "--count", "40", "--port", port}, "map.pgm", "L (64, 40)\n"},
        {{"image"}, "camera.pgm", "L\n"},
        {{"image"}, "camera.png", "L\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> command = c.command;
        command.insert(command.begin() + (c.command[0] == "plot" ? 2 : 1), File(c.file));
        const ToolRun run = Tool(command, true);
        ASSERT_EQ(run.status, 0) << c.file << ": " << run.err;
        EXPECT_EQ(PythonReads(kRead, File(c.file)), c.read) << c.file;
    }
    EXPECT_EQ(PythonReads("import sys; from PIL import Image; "
                          "print(Image.open(sys.argv[1] + '.pgm').size == "
                          "Image.open(sys.argv[1] + '.png').size)",
                          File("camera")),
              "True\n");
    // "-": the grey map on standard output (the sensor's scene moves on between images), what
    // was saved on standard error.
    const ToolRun piped = Tool({"image", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    const std::string saved = ReadFile(File("camera.pgm"));
    EXPECT_EQ(piped.out.size(), saved.size());
    const std::size_t header = saved.find("\n255\n") + 5;
    EXPECT_EQ(piped.out.substr(0, header), saved.substr(0, header));
    EXPECT_NE(piped.err.find("image to standard output"), std::string::npos) << piped.err;
}

TEST_F(ToolSimTest, DemoEndsWithItsSummaryAndFiles) {
    Start();  // the demo starts its own sensor on the test's second address
    const std::string demoAddress = TestAddress(1);
    const ToolRun run = RunTool({"demo", "--output", File("demo"), "--address", demoAddress,
                                 "--port", std::to_string(TestPort(1)), "--profiles", "200"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("restored exactly"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("200 profiles, 0 lost, 0 duplicated, no data lost"), std::string::npos)
        << run.out;
    EXPECT_EQ(PythonReads("import sys; from PIL import Image; "
                          "print(*(Image.open(sys.argv[1] + f).mode for f in "
                          "('/heightmap.png', '/heightmap.pgm')), "
                          "Image.open(sys.argv[1] + '/heightmap.pgm').size)",
                          File("demo")),
              "RGB L (640, 200)\n");
    EXPECT_EQ(PythonReads("import meshio, sys; print(len(meshio.read(sys.argv[1]).points) > 0)",
                          File("demo/profiles.ply")),
              "True\n");
    EXPECT_EQ(RunProgram("pamfile", {File("demo/camera.pgm")}).status, 0);
}

}  // namespace
}  // namespace QuilTool::Testing

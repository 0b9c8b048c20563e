// The configuration file: what a valid one gives, the exact text of every problem, and the
// program's --check, --version and manual page.
#include "ConfigurationFile.h"
#include "SecretFile.h"
#include "StartOnlySettings.h"
#include "TempDirectory.h"
#include "support/RunCommand.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace Varkon::QuilGateway::Testing {
namespace {

using Varkon::QUILApi::Testing::RunCommand;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A valid configuration; "@" stands for the test's directory.
const char* const kValid = R"(broker:
  host: 127.0.0.1
  port: 1883
  username: gateway
  password_file: broker.pw
  keepalive: 20
group_id: line1
node_id: pc-7
sensors:
  - name: left
    address: 127.0.0.2
    udp_port: 5000
    password_file: @/sensor.pw
  - name: right
    address: 127.0.0.3:80
    udp_port: 5001
    local_address: 127.0.0.1
    data_ids: [1]
    role: maintenance
    password_file: @/sensor.pw
    profiles_per_message: 25
    decimation: 4
    compression: zstd
    settings_file: right.json
    black_box:
      folder: box
      seconds: 30
      megabytes: 5
publish_queue:
  messages: 500
  kilobytes: 1024
http_allowed_hosts: [linepc7.plant, linepc7]
http_allowed_origins: ["https://dash.plant"]
http_max_connections: 20
)";

class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory.Write("broker.pw", "broker-secret\n");
        directory.Write("sensor.pw", "sensor-secret");
        directory.Write("right.json", R"({"exposure-time": 800})");
        directory.Write("broken.json", "{");
        directory.Write("list.json", "[800]");
        directory.Write("unknown.json", R"({"colour": 1})");
        directory.Write("network.json", R"({"network": {}})");
        directory.Write("big.pw", std::string(kMaxSecretFileBytes + 1, 'x'));
        mkfifo(directory.Path("fifo").c_str(), 0600);
    }
    std::string Write(const std::string& text) {
        return directory.Write("gateway.yaml", Replace(text, "@", directory.Root()));
    }
    TempDirectory directory;
};

TEST_F(ConfigurationTest, AValidFileGivesEverySetting) {
    const Configuration configuration = LoadConfiguration(Write(kValid));
    EXPECT_EQ(configuration.broker.host, "127.0.0.1");
    EXPECT_EQ(configuration.broker.port, 1883);
    EXPECT_EQ(configuration.broker.clientId, "quil-gateway-line1-pc-7");
    EXPECT_EQ(configuration.broker.password, "broker-secret");
    EXPECT_EQ(configuration.broker.keepaliveSeconds, 20);
    EXPECT_FALSE(configuration.broker.tls);
    EXPECT_EQ(configuration.groupId, "line1");
    EXPECT_EQ(configuration.nodeId, "pc-7");
    ASSERT_EQ(configuration.sensors.size(), 2u);
    const SensorSettings& left = configuration.sensors[0];
    EXPECT_EQ(left.host, "127.0.0.2");
    EXPECT_EQ(left.dataIds, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(left.role, "operator");
    EXPECT_EQ(left.password, "sensor-secret");
    EXPECT_EQ(left.profilesPerMessage, 10u);
    EXPECT_EQ(left.decimation, 1u);
    EXPECT_EQ(left.compression, Compression::None);
    const SensorSettings& right = configuration.sensors[1];
    EXPECT_EQ(right.host, "127.0.0.3:80");  // as written: Quil::Create reads the port
    EXPECT_EQ(right.udpPort, 5001);
    EXPECT_EQ(right.localAddress, "127.0.0.1");
    EXPECT_EQ(right.dataIds, (std::vector<uint32_t>{1}));
    EXPECT_EQ(right.role, "maintenance");
    EXPECT_EQ(right.profilesPerMessage, 25u);
    EXPECT_EQ(right.decimation, 4u);
    EXPECT_EQ(right.compression, Compression::Zstd);
    EXPECT_EQ(right.settingsFile, directory.Path("right.json"));
    EXPECT_EQ(right.settingsDocument, nlohmann::json({{"exposure-time", 800}}));
    EXPECT_TRUE(left.settingsDocument.is_null());
    EXPECT_FALSE(left.blackBox);
    ASSERT_TRUE(right.blackBox);
    EXPECT_EQ(right.blackBox->folder, directory.Path("box"));
    EXPECT_EQ(right.blackBox->seconds, 30u);
    EXPECT_EQ(right.blackBox->bytes, 5'000'000u);
    EXPECT_EQ(configuration.publishQueue.messages, 500u);
    EXPECT_EQ(configuration.publishQueue.bytes, 1024u * 1024u);
    EXPECT_EQ(configuration.httpAllowedHosts,
              (std::vector<std::string>{"linepc7.plant", "linepc7"}));
    EXPECT_EQ(configuration.httpAllowedOrigins, std::vector<std::string>{"https://dash.plant"});
    EXPECT_EQ(configuration.httpMaxConnections, 20u);
}

TEST_F(ConfigurationTest, ARelativePasswordFileIsAServiceCredentialFirst) {
    std::filesystem::create_directories(directory.Path("credentials"));
    directory.Write("credentials/broker.pw", "credential-secret\n");
    const struct {
        std::string credentials;  // $CREDENTIALS_DIRECTORY
        std::string broker;       // the broker's password
        std::string sensor;       // a sensor's, named by an absolute path
    } cases[] = {
        {directory.Path("credentials"), "credential-secret", "sensor-secret"},
        {directory.Path("none"), "broker-secret", "sensor-secret"},
        {"", "broker-secret", "sensor-secret"},
    };
    const std::string path = Write(kValid);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.credentials);
        setenv("CREDENTIALS_DIRECTORY", c.credentials.c_str(), 1);
        const Configuration configuration = LoadConfiguration(path);
        unsetenv("CREDENTIALS_DIRECTORY");
        EXPECT_EQ(configuration.broker.password, c.broker);
        EXPECT_EQ(configuration.sensors[0].password, c.sensor);
    }
}

TEST_F(ConfigurationTest, EveryProblemIsOneErrorNamingFileLineAndKey) {
    // Each case replaces one text of the valid file; "F" stands for the file in the error.
    const std::string longName(kMaxNameLength + 1, 'n');
    const std::string longHost(kMaxHostLength + 1, 'h');
    const struct {
        const char* from;
        std::string to;
        std::string error;
    } cases[] = {
        {"  keepalive: 20\n", "  keepalive: 20\n  hots: x\n", "F:7: broker.hots: unknown key"},
        {"group_id: line1\n", "group_id: line1\nextra: 1\n", "F:8: extra: unknown key"},
        {"    decimation: 4\n", "    decimation: 4\n    decimate: 2\n",
         "F:23: sensors[1].decimate: unknown key"},
        {"  host: 127.0.0.1\n", "", "F:2: broker.host: missing"},
        {"node_id: pc-7\n", "", "F:1: node_id: missing"},
        {"node_id: pc-7\n", "node_id: pc-7\nhttp_port: 0\n",
         "F:9: http_port: expected a whole number from 1 to 65535"},
        {"node_id: pc-7\n", "node_id: pc-7\nhttp_address: localhost\n",
         "F:9: http_address: expected an IP address of this host, such as 127.0.0.1"},
        {"  port: 1883", "  port: many",
         "F:3: broker.port: expected a whole number from 1 to 65535"},
        {"  port: 1883", "  port: 70000",
         "F:3: broker.port: expected a whole number from 1 to 65535"},
        {"  keepalive: 20", "  keepalive: [20]",
         "F:6: broker.keepalive: expected a whole number from 5 to 3600"},
        {"  host: 127.0.0.1", "  host: {a: 1}", "F:2: broker.host: expected text"},
        {"broker.pw", "missing.pw",
         "F:5: broker.password_file: cannot read @/missing.pw: No such file or directory"},
        {"group_id: line1", "group_id: line/1",
         "F:7: group_id: expected a name of letters, digits, '-', '_' and '.'"},
        {"- name: right", "- name: left",
         "F:14: sensors[1].name: \"left\" is already the name "
         "of sensors[0]"},
        {"    udp_port: 5001", "    udp_port: 5000",
         "F:16: sensors[1].udp_port: 5000 is already the UDP port of sensors[0]"},
        {"127.0.0.3:80", "127.0.0.3:0",
         "F:15: sensors[1].address: expected a host, or host:port with a port from 1 to 65535"},
        {"[1]", "[1, 4]", "F:18: sensors[1].data_ids[1]: expected a whole number from 0 to 3"},
        {"[1]", "[1, 1]", "F:18: sensors[1].data_ids[1]: data id 1 appears twice"},
        {"[1]", "1", "F:18: sensors[1].data_ids: expected a list of data ids from 0 to 3"},
        {"    profiles_per_message: 25", "    profiles_per_message: 0",
         "F:21: sensors[1].profiles_per_message: expected a whole number from 1 to 1000"},
        {"    compression: zstd", "    compression: gzip",
         "F:23: sensors[1].compression: expected none or zstd"},
        {"    password_file: @/sensor.pw\n  - name: right", "  - name: right",
         "F:10: sensors[0].password_file: missing"},
        {"  keepalive: 20\n", "  keepalive: 20\n  tls:\n    ca_file: @/ca.pem\n",
         "F:8: broker.tls.ca_file: cannot read @/ca.pem: No such file or directory"},
        {"  keepalive: 20\n", "  keepalive: 20\n  tls:\n    ca: x\n",
         "F:8: broker.tls.ca: unknown key"},
        {"  - name: left\n    address: 127.0.0.2\n    udp_port: 5000\n", "  - left\n  - name: x\n",
         "F:10: sensors[0]: expected keys and values"},
        {"group_id: line1", "group_id: [line1",
         "F:8: not valid YAML: end of sequence flow not found"},
        {"right.json", "none.json",
         "F:24: sensors[1].settings_file: cannot read @/none.json: No such file or directory"},
        {"right.json", "broken.json",
         "F:24: sensors[1].settings_file: @/broken.json: not valid JSON"},
        {"right.json", "list.json",
         "F:24: sensors[1].settings_file: @/list.json: expected a JSON object of settings by "
         "name, as `quil config save` writes it"},
        {"right.json", "unknown.json",
         "F:24: sensors[1].settings_file: @/unknown.json: unknown setting \"colour\""},
        {"right.json", "network.json",
         "F:24: sensors[1].settings_file: @/network.json: network is not part of a "
         "configuration"},
        {"      seconds: 30", "      seconds: 0",
         "F:27: sensors[1].black_box.seconds: expected a whole number from 1 to 86400"},
        {"      folder: box\n", "", "F:26: sensors[1].black_box.folder: missing"},
        {"      megabytes: 5\n", "      megabytes: 5\n      minutes: 1\n",
         "F:29: sensors[1].black_box.minutes: unknown key"},
        {"    password_file: @/sensor.pw\n  - name: right",
         "    password_file: @/sensor.pw\n    black_box: {folder: box}\n  - name: right",
         "F:27: sensors[1].black_box.folder: @/box is already the black box folder of "
         "sensors[0]"},
        {"  kilobytes: 1024", "  kilobytes: 10",
         "F:31: publish_queue.kilobytes: expected a whole number from 64 to 4194304"},
        // Only regular files are read, within a cap, and never waited for.
        {"broker.pw", "/dev/zero",
         "F:5: broker.password_file: cannot read /dev/zero: not a regular file"},
        {"broker.pw", "fifo", "F:5: broker.password_file: cannot read @/fifo: not a regular file"},
        {"broker.pw", "@", "F:5: broker.password_file: cannot read @: not a regular file"},
        {"broker.pw", "big.pw",
         "F:5: broker.password_file: cannot read @/big.pw: larger than 4096 bytes"},
        {"right.json", "/dev/zero",
         "F:24: sensors[1].settings_file: cannot read /dev/zero: not a regular file"},
        {"right.json", "fifo",
         "F:24: sensors[1].settings_file: cannot read @/fifo: not a regular file"},
        {"  keepalive: 20\n", "  keepalive: 20\n  tls:\n    ca_file: /dev/zero\n",
         "F:8: broker.tls.ca_file: cannot read /dev/zero: not a regular file"},
        // Values are bounded, and a key is given once.
        {"node_id: pc-7", "node_id: " + longName,
         "F:8: node_id: expected a name of at most 100 characters"},
        {"  host: 127.0.0.1", "  host: " + longHost,
         "F:2: broker.host: expected text of at most 255 characters"},
        {"address: 127.0.0.2", "address: " + longHost,
         "F:11: sensors[0].address: expected text of at most 255 characters"},
        {"      folder: box", "      folder: \"b\\0x\"",
         "F:26: sensors[1].black_box.folder: expected text without control characters"},
        {"  port: 1883\n", "  port: 1883\n  port: 1884\n", "F:4: broker.port: appears twice"},
        {"node_id: pc-7\n", "node_id: pc-7\nnode_id: pc-8\n", "F:9: node_id: appears twice"},
        {"[\"https://dash.plant\"]", "[evil.example]",
         "F:33: http_allowed_origins[0]: expected an origin such as https://dashboard.plant"},
        {"http_max_connections: 20", "http_max_connections: 100000",
         "F:34: http_max_connections: expected a whole number from 4 to 1000"},
        {"[linepc7.plant, linepc7]", "linepc7",
         "F:32: http_allowed_hosts: expected a list of at most 64 texts"},
        {"    decimation: 4\n", "    decimation: 4\n    decimation: 5\n",
         "F:23: sensors[1].decimation: appears twice"},
        // A URL or a path, as a browser shows a sensor's page, is no host.
        {"address: 127.0.0.2", "address: http://127.0.0.2/",
         "F:11: sensors[0].address: expected a host, or host:port, not a URL or a path: write "
         "127.0.0.2"},
        {"127.0.0.3:80", "127.0.0.3:80/ws",
         "F:15: sensors[1].address: expected a host, or host:port, not a URL or a path: write "
         "127.0.0.3:80"},
        {"  host: 127.0.0.1", "  host: mqtt://127.0.0.1:1883",
         "F:2: broker.host: expected a host (its port is broker.port), not a URL or a path: "
         "write 127.0.0.1"},
    };
    const std::string valid = Replace(kValid, "@", directory.Root());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        const std::string from = Replace(c.from, "@", directory.Root());
        ASSERT_NE(valid.find(from), std::string::npos);
        const std::string path = directory.Write(
            "gateway.yaml", Replace(valid, from, Replace(c.to, "@", directory.Root())));
        try {
            LoadConfiguration(path);
            ADD_FAILURE() << "no error";
        } catch (const ConfigurationError& error) {
            EXPECT_EQ(error.what(), Replace(Replace(c.error, "F", path), "@", directory.Root()));
        }
    }
}

TEST_F(ConfigurationTest, TheProgramChecksWithoutConnectingAndNamesItsVersion) {
    const std::string valid = Write(kValid);
    const std::string broken = directory.Write("broken.yaml", "broker: [\n");
    // A valid file made larger than the cap by a comment.
    const std::string large =
        directory.Write("large.yaml", Replace(kValid, "@", directory.Root()) + "#" +
                                          std::string(kMaxConfigurationFileBytes, ' ') + "\n");
    const std::string fifo = directory.Path("fifo");
    const auto folder = [&](const std::string& blackBoxFolder) {
        return directory.Write("folder.yaml", Replace(Replace(kValid, "@", directory.Root()),
                                                      "folder: box", "folder: " + blackBoxFolder));
    };
    struct Case {
        std::string arguments;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"--version", 0, "quil-gateway " + Varkon::QUILApi::Quil::Version() + "\n", ""},
        {"--check " + std::string(QUIL_GATEWAY_DEMO), 0,
         std::string(QUIL_GATEWAY_DEMO) + ": 2 sensor(s), group demo, node pc1\n", ""},
        {"--check " + valid, 0, valid + ": 2 sensor(s), group line1, node pc-7\n", ""},
        {"--check " + broken, 2, "",
         "quil-gateway: " + broken + ":2: not valid YAML: end of sequence flow not found\n"},
        {"--check " + directory.Path("none.yaml"), 2, "",
         "quil-gateway: " + directory.Path("none.yaml") +
             ": cannot be read: No such file or directory\n"},
        {"--check /dev/zero", 2, "",
         "quil-gateway: /dev/zero: cannot be read: not a regular file\n"},
        {"--check " + fifo, 2, "",
         "quil-gateway: " + fifo + ": cannot be read: not a regular file\n"},
        {"--check " + directory.Root(), 2, "",
         "quil-gateway: " + directory.Root() + ": cannot be read: not a regular file\n"},
        {"--check " + large, 2, "",
         "quil-gateway: " + large + ": cannot be read: larger than 1048576 bytes\n"},
        // What can be checked without a sensor: a black box folder it can neither make nor
        // write in.
        {"--check " + folder("sensor.pw/box"), 2, "",
         "quil-gateway: " + directory.Path("folder.yaml") + ":26: sensors[1].black_box.folder: " +
             directory.Path("sensor.pw") + " is not a folder\n"},
        {"--check " + folder("sensor.pw"), 2, "",
         "quil-gateway: " + directory.Path("folder.yaml") + ":26: sensors[1].black_box.folder: " +
             directory.Path("sensor.pw") + " is not a folder\n"},
        {"--password x " + valid, 2, "", "quil-gateway: unknown option --password (see --help)\n"},
        {"", 2, "", "quil-gateway: expected one configuration file (see --help)\n"},
    };
    // A folder it may not write in: root may write in any.
    std::vector<Case> all(std::begin(cases), std::end(cases));
    if (geteuid() != 0) {
        std::filesystem::create_directories(directory.Path("locked"));
        chmod(directory.Path("locked").c_str(), 0500);
        all.push_back({"--check " + folder("locked/box"), 2, "",
                       "quil-gateway: " + directory.Path("folder.yaml") +
                           ":26: sensors[1].black_box.folder: cannot write in " +
                           directory.Path("locked") + ": Permission denied\n"});
    }
    for (const auto& c : all) {
        SCOPED_TRACE(c.arguments);
        // Bounded: a gateway that waits for a file must not hang the test.
        const auto [out, status] = RunCommand("timeout 20 " + std::string(QUIL_GATEWAY) + " " +
                                              c.arguments + " 2>" + directory.Path("err"));
        EXPECT_EQ(WEXITSTATUS(status), c.status);
        EXPECT_EQ(out, c.out);
        std::ifstream errFile(directory.Path("err"));
        const std::string err{std::istreambuf_iterator<char>(errFile), {}};
        EXPECT_EQ(err, c.err);
    }
    // The folder is made when the black box first needs it, not by a check.
    EXPECT_FALSE(std::filesystem::exists(directory.Path("box")));
}

// Made beside the program by help2man, when it is installed.
TEST(ManualPageTest, HasTheSectionsOfAManualPageAndRendersWithoutWarnings) {
    const std::string page =
        (std::filesystem::path(QUIL_GATEWAY).parent_path() / "quil-gateway.1").string();
    if (!std::filesystem::exists(page)) {
        GTEST_SKIP() << "no manual page (help2man is not installed)";
    }
    std::ifstream file(page);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "\"EXIT STATUS\"",
                                "ENVIRONMENT", "FILES", "\"SEE ALSO\""}) {
        EXPECT_NE(text.find(std::string("\n.SH ") + section + "\n"), std::string::npos) << section;
    }
    EXPECT_EQ(text.find(".SS"), std::string::npos) << "a heading of the help left as a subsection";
    const auto [warnings, status] = RunCommand("groff -man -ww -z " + page + " 2>&1");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(warnings, "");
}

TEST(StartOnlySettingsTest, AReloadTellsWhatWaitsForTheNextStart) {
    const struct {
        std::function<void(Configuration&)> change;
        std::string told;
    } cases[] = {
        {[](Configuration&) {}, ""},
        {[](Configuration& c) { c.sensors.emplace_back(); }, ""},
        {[](Configuration& c) {
             c.nodeId = "pc8";
             c.broker.clientId = "quil-gateway-line1-pc8";
         },
         "; node_id changes at the next start"},
        {[](Configuration& c) { c.broker.clientId = "other"; },
         "; broker changes at the next start"},
        {[](Configuration& c) {
             c.broker.password = "new";
             c.httpPort = 9464;
             c.publishQueue.messages = 20;
         },
         "; broker, http_port and publish_queue change at the next start"},
        {[](Configuration& c) {
             c.groupId = "line2";
             c.httpAllowedHosts = {"pc"};
         },
         "; group_id and http_allowed_hosts change at the next start"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.told);
        Configuration running;
        running.groupId = "line1";
        running.nodeId = "pc7";
        Configuration next = running;
        c.change(next);
        EXPECT_EQ(AtNextStart(StartOnlyChanges(running, next)), c.told);
    }
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

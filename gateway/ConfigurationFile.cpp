#include "ConfigurationFile.h"

#include "Document.h"
#include "SecretFile.h"
#include "SmallFile.h"
#include "WritableFolder.h"

#include <quil/SensorAddress.h>

#include <yaml-cpp/yaml.h>
#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <unordered_map>
#include <vector>

namespace Varkon::QuilGateway {
namespace {

std::string Join(const std::string& prefix, const std::string& key) {
    return prefix.empty() ? key : prefix + "." + key;
}

// Reads values out of the parsed file, turning every problem into an error that names the file,
// the line and the key.
class Reader {
public:
    Reader(std::string file, ConfigurationChecks checks) : file(std::move(file)), checks(checks) {}

    // A file named in the configuration: a relative path is taken from the configuration's
    // folder, so that a configuration and its password files can move together.
    std::string Beside(const std::string& path) const {
        const std::filesystem::path named(path);
        if (named.is_absolute()) {
            return path;
        }
        return (std::filesystem::path(file).parent_path() / named).string();
    }

    [[noreturn]] void Fail(const YAML::Mark& mark, const std::string& key,
                           const std::string& reason) const {
        const int line = mark.is_null() ? 1 : mark.line + 1;
        throw ConfigurationError(file + ":" + std::to_string(line) + ": " + key + ": " + reason);
    }

    void ExpectMap(const YAML::Node& node, const std::string& key) const {
        if (!node.IsMap()) {
            Fail(node.Mark(), key, "expected keys and values");
        }
    }

    // Refuses a key that is not `known` and a key given twice (which YAML would let the first
    // win silently).
    void OnlyKeys(const YAML::Node& map, const std::string& prefix,
                  std::initializer_list<const char*> known) const {
        std::vector<bool> seen(known.size());
        for (const auto& entry : map) {
            const std::string key = entry.first.IsScalar() ? entry.first.Scalar() : "";
            const auto at = std::find_if(known.begin(), known.end(),
                                         [&](const char* name) { return key == name; });
            if (at == known.end()) {
                Fail(entry.first.Mark(), Join(prefix, Shown(key)), "unknown key");
            }
            const auto index = static_cast<std::size_t>(at - known.begin());
            if (seen[index]) {
                Fail(entry.first.Mark(), Join(prefix, key), "appears twice");
            }
            seen[index] = true;
        }
    }

    YAML::Node Required(const YAML::Node& map, const std::string& prefix,
                        const std::string& key) const {
        YAML::Node value = map[key];
        if (!value.IsDefined() || value.IsNull()) {
            Fail(map.Mark(), Join(prefix, key), "missing");
        }
        return value;
    }

    // Text of at most `maxLength` characters, none of them a control character (a NUL would
    // cut a path short).
    std::string Text(const YAML::Node& node, const std::string& key,
                     std::size_t maxLength = kMaxTextLength) const {
        if (!node.IsScalar() || node.Scalar().empty()) {
            Fail(node.Mark(), key, "expected text");
        }
        const std::string& text = node.Scalar();
        if (text.size() > maxLength) {
            Fail(node.Mark(), key,
                 "expected text of at most " + std::to_string(maxLength) + " characters");
        }
        if (std::any_of(text.begin(), text.end(),
                        [](char c) { return std::iscntrl(static_cast<unsigned char>(c)) != 0; })) {
            Fail(node.Mark(), key, "expected text without control characters");
        }
        return text;
    }

    // A list of at most kMaxListLength texts, each as Text.
    std::vector<std::string> Texts(const YAML::Node& node, const std::string& key,
                                   std::size_t maxLength) const {
        if (!node.IsSequence() || node.size() > kMaxListLength) {
            Fail(node.Mark(), key,
                 "expected a list of at most " + std::to_string(kMaxListLength) + " texts");
        }
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < node.size(); ++i) {
            texts.push_back(Text(node[i], key + "[" + std::to_string(i) + "]", maxLength));
        }
        return texts;
    }

    std::string Path(const YAML::Node& node, const std::string& key) const {
        return Beside(Text(node, key, kMaxPathLength));
    }

    // A folder the gateway makes and writes when it needs it.
    std::string Folder(const YAML::Node& node, const std::string& key) const {
        const std::string folder = Path(node, key);
        if (checks == ConfigurationChecks::Folders) {
            if (const std::string problem = WhyNotWritableFolder(folder); !problem.empty()) {
                Fail(node.Mark(), key, problem);
            }
        }
        return folder;
    }

    // Refuses a URL or a path (as a browser's address bar shows a sensor's page) for a host,
    // with the host it names as the hint; `withPort`: host:port is a host too.
    void ExpectHost(const YAML::Node& node, const std::string& key, const std::string& host,
                    bool withPort) const {
        const auto scheme = host.find("://");
        const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
        const std::string named = host.substr(start, host.find('/', start) - start);
        if (scheme == std::string::npos && named.size() == host.size()) {
            return;
        }
        const std::string hint = withPort ? named : Varkon::QUILApi::SplitSensorAddress(named).host;
        Fail(node.Mark(), key,
             std::string(withPort ? "expected a host, or host:port"
                                  : "expected a host (its port is broker.port)") +
                 ", not a URL or a path" + (hint.empty() ? "" : ": write " + hint));
    }

    // Letters, digits, '-', '_' and '.': the characters that are safe in an MQTT topic level.
    std::string Name(const YAML::Node& node, const std::string& key) const {
        const std::string name = node.IsScalar() ? node.Scalar() : "";
        const bool valid = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        });
        if (!valid) {
            Fail(node.Mark(), key, "expected a name of letters, digits, '-', '_' and '.'");
        }
        if (name.size() > kMaxNameLength) {
            Fail(node.Mark(), key,
                 "expected a name of at most " + std::to_string(kMaxNameLength) + " characters");
        }
        return name;
    }

    long long Whole(const YAML::Node& node, const std::string& key, long long min,
                    long long max) const {
        long long value = 0;
        bool valid = node.IsScalar();
        if (valid) {
            const std::string& text = node.Scalar();
            std::size_t used = 0;
            try {
                value = std::stoll(text, &used);
            } catch (const std::exception&) {
                valid = false;
            }
            valid = valid && used == text.size() && value >= min && value <= max;
        }
        if (!valid) {
            Fail(node.Mark(), key,
                 "expected a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max));
        }
        return value;
    }

    // A relative path names a credential of the service first (SecretFile.h).
    std::string Secret(const YAML::Node& node, const std::string& key) const {
        const std::string credential = CredentialPath(Text(node, key, kMaxPathLength));
        const std::string path = credential.empty() ? Path(node, key) : credential;
        try {
            return ReadSecretFile(path);
        } catch (const UnreadableFile& error) {
            Fail(node.Mark(), key, error.what());
        }
    }

    std::string ReadableFile(const YAML::Node& node, const std::string& key) const {
        const std::string path = Path(node, key);
        try {
            CheckSmallFile(path);
        } catch (const UnreadableFile& error) {
            Fail(node.Mark(), key, error.what());
        }
        return path;
    }

    // A settings document as `quil config save` writes it.
    nlohmann::json SettingsDocument(const YAML::Node& node, const std::string& key) const {
        const std::string path = Path(node, key);
        std::string text;
        try {
            text = ReadSmallFile(path, kMaxSettingsFileBytes);
        } catch (const UnreadableFile& error) {
            Fail(node.Mark(), key, error.what());
        }
        const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
        if (document.is_discarded()) {
            Fail(node.Mark(), key, path + ": not valid JSON");
        }
        if (const std::string problem = Varkon::QUILApi::Catalogue::DocumentProblem(document);
            !problem.empty()) {
            Fail(node.Mark(), key, path + ": " + problem);
        }
        return document;
    }

    // A key as an error may show it: one that cannot be a key of ours is shortened and freed of
    // control characters, so that the error stays one short line.
    static std::string Shown(const std::string& key) {
        constexpr std::size_t kShownLength = 40;
        std::string shown = key.substr(0, kShownLength);
        std::replace_if(
            shown.begin(), shown.end(),
            [](char c) { return std::iscntrl(static_cast<unsigned char>(c)) != 0; }, '?');
        return key.size() > kShownLength ? shown + "..." : shown;
    }

private:
    std::string file;
    ConfigurationChecks checks;
};

BrokerSettings ReadBroker(const Reader& reader, const YAML::Node& node) {
    reader.ExpectMap(node, "broker");
    reader.OnlyKeys(node, "broker",
                    {"host", "port", "client_id", "username", "password_file", "tls", "keepalive"});
    BrokerSettings broker;
    const YAML::Node host = reader.Required(node, "broker", "host");
    broker.host = reader.Text(host, "broker.host", kMaxHostLength);
    reader.ExpectHost(host, "broker.host", broker.host, false);
    if (node["port"]) {
        broker.port = static_cast<uint16_t>(reader.Whole(node["port"], "broker.port", 1, 65535));
    }
    if (node["client_id"]) {
        broker.clientId = reader.Text(node["client_id"], "broker.client_id");
    }
    if (node["username"]) {
        broker.username = reader.Text(node["username"], "broker.username");
    }
    if (node["password_file"]) {
        broker.password = reader.Secret(node["password_file"], "broker.password_file");
    }
    if (node["keepalive"]) {
        broker.keepaliveSeconds =
            static_cast<int>(reader.Whole(node["keepalive"], "broker.keepalive", 5, 3600));
    }
    if (const YAML::Node tls = node["tls"]) {
        reader.ExpectMap(tls, "broker.tls");
        reader.OnlyKeys(tls, "broker.tls", {"ca_file", "cert_file", "key_file"});
        broker.tls = true;
        broker.tlsFiles.caFile = reader.ReadableFile(reader.Required(tls, "broker.tls", "ca_file"),
                                                     "broker.tls.ca_file");
        if (tls["cert_file"] || tls["key_file"]) {
            broker.tlsFiles.certFile = reader.ReadableFile(
                reader.Required(tls, "broker.tls", "cert_file"), "broker.tls.cert_file");
            broker.tlsFiles.keyFile = reader.ReadableFile(
                reader.Required(tls, "broker.tls", "key_file"), "broker.tls.key_file");
        }
    }
    return broker;
}

// A host, or host:port with the port of the sensor's WebSocket service, as Quil::Create reads
// it.
std::string ReadSensorHost(const Reader& reader, const YAML::Node& node, const std::string& key) {
    const std::string address = reader.Text(node, key, kMaxHostLength);
    reader.ExpectHost(node, key, address, true);
    const auto split = Varkon::QUILApi::SplitSensorAddress(address);
    const bool namesPort = split.host != address;
    if (address.empty() || address.front() == ':' ||
        (!namesPort && std::count(address.begin(), address.end(), ':') == 1)) {
        reader.Fail(node.Mark(), key, "expected a host, or host:port with a port from 1 to 65535");
    }
    return address;
}

BlackBoxSettings ReadBlackBox(const Reader& reader, const YAML::Node& node,
                              const std::string& prefix) {
    reader.ExpectMap(node, prefix);
    reader.OnlyKeys(
        node, prefix,
        {"folder", "seconds", "megabytes", "keep_interval", "kept_recordings", "kept_megabytes"});
    BlackBoxSettings box;
    box.folder = reader.Folder(reader.Required(node, prefix, "folder"), prefix + ".folder");
    if (node["seconds"]) {
        box.seconds =
            static_cast<uint32_t>(reader.Whole(node["seconds"], prefix + ".seconds", 1, 86400));
    }
    if (node["megabytes"]) {
        box.bytes = static_cast<uint64_t>(
                        reader.Whole(node["megabytes"], prefix + ".megabytes", 1, 1000000)) *
                    1'000'000;
    }
    if (node["keep_interval"]) {
        box.keepIntervalSeconds = static_cast<uint32_t>(
            reader.Whole(node["keep_interval"], prefix + ".keep_interval", 1, 86400));
    }
    if (node["kept_recordings"]) {
        box.keptRecordings = static_cast<uint32_t>(
            reader.Whole(node["kept_recordings"], prefix + ".kept_recordings", 1, 10000));
    }
    if (node["kept_megabytes"]) {
        box.keptBytes = static_cast<uint64_t>(reader.Whole(
                            node["kept_megabytes"], prefix + ".kept_megabytes", 1, 1000000)) *
                        1'000'000;
    }
    return box;
}

PublishQueueLimits ReadPublishQueue(const Reader& reader, const YAML::Node& node) {
    reader.ExpectMap(node, "publish_queue");
    reader.OnlyKeys(node, "publish_queue", {"messages", "kilobytes"});
    PublishQueueLimits limits;
    if (node["messages"]) {
        limits.messages = static_cast<std::size_t>(
            reader.Whole(node["messages"], "publish_queue.messages", 10, 1000000));
    }
    if (node["kilobytes"]) {
        limits.bytes = static_cast<std::size_t>(reader.Whole(
                           node["kilobytes"], "publish_queue.kilobytes", 64, 4194304)) *
                       1024;
    }
    return limits;
}

std::vector<uint32_t> ReadDataIds(const Reader& reader, const YAML::Node& node,
                                  const std::string& key) {
    if (!node.IsSequence() || node.size() == 0) {
        reader.Fail(node.Mark(), key, "expected a list of data ids from 0 to 3");
    }
    std::vector<uint32_t> ids;
    for (std::size_t i = 0; i < node.size(); ++i) {
        const std::string itemKey = key + "[" + std::to_string(i) + "]";
        const auto id = static_cast<uint32_t>(reader.Whole(node[i], itemKey, 0, 3));
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
            reader.Fail(node[i].Mark(), itemKey,
                        "data id " + std::to_string(id) + " appears twice");
        }
        ids.push_back(id);
    }
    return ids;
}

SensorSettings ReadSensor(const Reader& reader, const YAML::Node& node, const std::string& prefix) {
    reader.ExpectMap(node, prefix);
    reader.OnlyKeys(
        node, prefix,
        {"name", "address", "udp_port", "local_address", "data_ids", "role", "password_file",
         "profiles_per_message", "decimation", "compression", "settings_file", "black_box"});
    SensorSettings sensor;
    sensor.name = reader.Name(reader.Required(node, prefix, "name"), prefix + ".name");
    sensor.host =
        ReadSensorHost(reader, reader.Required(node, prefix, "address"), prefix + ".address");
    sensor.udpPort = static_cast<uint16_t>(
        reader.Whole(reader.Required(node, prefix, "udp_port"), prefix + ".udp_port", 1, 65535));
    if (node["local_address"]) {
        sensor.localAddress = reader.Text(node["local_address"], prefix + ".local_address");
    }
    if (node["data_ids"]) {
        sensor.dataIds = ReadDataIds(reader, node["data_ids"], prefix + ".data_ids");
    }
    if (node["role"]) {
        sensor.role = reader.Name(node["role"], prefix + ".role");
    }
    sensor.password =
        reader.Secret(reader.Required(node, prefix, "password_file"), prefix + ".password_file");
    if (node["profiles_per_message"]) {
        sensor.profilesPerMessage = static_cast<uint32_t>(
            reader.Whole(node["profiles_per_message"], prefix + ".profiles_per_message", 1, 1000));
    }
    if (node["decimation"]) {
        sensor.decimation = static_cast<uint32_t>(
            reader.Whole(node["decimation"], prefix + ".decimation", 1, 1000));
    }
    if (const YAML::Node compression = node["compression"]) {
        const std::string value = compression.IsScalar() ? compression.Scalar() : "";
        if (value != "none" && value != "zstd") {
            reader.Fail(compression.Mark(), prefix + ".compression", "expected none or zstd");
        }
        sensor.compression = value == "zstd" ? Compression::Zstd : Compression::None;
    }
    if (const YAML::Node settings = node["settings_file"]) {
        sensor.settingsFile = reader.Path(settings, prefix + ".settings_file");
        sensor.settingsDocument = reader.SettingsDocument(settings, prefix + ".settings_file");
    }
    if (const YAML::Node box = node["black_box"]) {
        sensor.blackBox = ReadBlackBox(reader, box, prefix + ".black_box");
    }
    return sensor;
}

std::vector<SensorSettings> ReadSensors(const Reader& reader, const YAML::Node& node) {
    if (!node.IsSequence() || node.size() == 0) {
        reader.Fail(node.Mark(), "sensors", "expected a list of at least one sensor");
    }
    // What must differ between sensors, each with the index of the sensor that has it.
    std::unordered_map<std::string, std::size_t> names;
    std::unordered_map<std::string, std::size_t> folders;
    std::unordered_map<uint16_t, std::size_t> udpPorts;
    const auto other = [](std::size_t index) { return "sensors[" + std::to_string(index) + "]"; };
    std::vector<SensorSettings> sensors;
    for (std::size_t i = 0; i < node.size(); ++i) {
        const std::string prefix = other(i);
        SensorSettings sensor = ReadSensor(reader, node[i], prefix);
        if (const auto [at, added] = names.emplace(sensor.name, i); !added) {
            reader.Fail(node[i]["name"].Mark(), prefix + ".name",
                        "\"" + sensor.name + "\" is already the name of " + other(at->second));
        }
        if (sensor.blackBox) {
            if (const auto [at, added] = folders.emplace(sensor.blackBox->folder, i); !added) {
                reader.Fail(node[i]["black_box"]["folder"].Mark(), prefix + ".black_box.folder",
                            sensor.blackBox->folder + " is already the black box folder of " +
                                other(at->second));
            }
        }
        if (const auto [at, added] = udpPorts.emplace(sensor.udpPort, i); !added) {
            reader.Fail(node[i]["udp_port"].Mark(), prefix + ".udp_port",
                        std::to_string(sensor.udpPort) + " is already the UDP port of " +
                            other(at->second));
        }
        sensors.push_back(std::move(sensor));
    }
    return sensors;
}

YAML::Node Parse(const std::string& path) {
    std::string text;
    try {
        text = ReadSmallFile(path, kMaxConfigurationFileBytes);
    } catch (const UnreadableFile& error) {
        throw ConfigurationError(path + ": cannot be read: " + error.Reason());
    }
    try {
        return YAML::Load(text);
    } catch (const YAML::Exception& error) {
        throw ConfigurationError(path + ":" + std::to_string(error.mark.line + 1) +
                                 ": not valid YAML: " + error.msg);
    }
}

void ReadHttpLimits(const Reader& reader, const YAML::Node& root, Configuration& configuration) {
    if (root["http_allowed_hosts"]) {
        configuration.httpAllowedHosts =
            reader.Texts(root["http_allowed_hosts"], "http_allowed_hosts", kMaxHostLength);
    }
    if (root["http_allowed_origins"]) {
        configuration.httpAllowedOrigins =
            reader.Texts(root["http_allowed_origins"], "http_allowed_origins", kMaxHostLength);
        for (std::size_t i = 0; i < configuration.httpAllowedOrigins.size(); ++i) {
            const std::string& origin = configuration.httpAllowedOrigins[i];
            if (origin.rfind("http://", 0) != 0 && origin.rfind("https://", 0) != 0) {
                reader.Fail(root["http_allowed_origins"][i].Mark(),
                            "http_allowed_origins[" + std::to_string(i) + "]",
                            "expected an origin such as https://dashboard.plant");
            }
        }
    }
    if (root["http_max_connections"]) {
        configuration.httpMaxConnections = static_cast<std::size_t>(
            reader.Whole(root["http_max_connections"], "http_max_connections", 4, 1000));
    }
}

Configuration ReadConfiguration(const std::string& path, ConfigurationChecks checks) {
    const YAML::Node root = Parse(path);
    const Reader reader(path, checks);
    if (!root.IsMap()) {
        reader.Fail(root.Mark(), "(top)",
                    "expected the keys broker, group_id, node_id and sensors");
    }
    reader.OnlyKeys(
        root, "",
        {"broker", "group_id", "node_id", "sensors", "http_address", "http_port",
         "http_allowed_hosts", "http_allowed_origins", "http_max_connections", "publish_queue"});
    Configuration configuration;
    configuration.broker = ReadBroker(reader, reader.Required(root, "", "broker"));
    configuration.groupId = reader.Name(reader.Required(root, "", "group_id"), "group_id");
    configuration.nodeId = reader.Name(reader.Required(root, "", "node_id"), "node_id");
    configuration.sensors = ReadSensors(reader, reader.Required(root, "", "sensors"));
    if (root["http_port"]) {
        configuration.httpPort =
            static_cast<uint16_t>(reader.Whole(root["http_port"], "http_port", 1, 65535));
    }
    if (root["http_address"]) {
        configuration.httpAddress = reader.Text(root["http_address"], "http_address");
        boost::system::error_code notAnAddress;
        boost::asio::ip::make_address(configuration.httpAddress, notAnAddress);
        if (notAnAddress) {
            reader.Fail(root["http_address"].Mark(), "http_address",
                        "expected an IP address of this host, such as 127.0.0.1");
        }
    }
    ReadHttpLimits(reader, root, configuration);
    if (root["publish_queue"]) {
        configuration.publishQueue = ReadPublishQueue(reader, root["publish_queue"]);
    }
    if (configuration.broker.clientId.empty()) {
        configuration.broker.clientId =
            "quil-gateway-" + configuration.groupId + "-" + configuration.nodeId;
    }
    return configuration;
}

}  // namespace

Configuration LoadConfiguration(const std::string& path, ConfigurationChecks checks) {
    // The caps keep both from happening; should one still, a reload must not end the gateway.
    try {
        return ReadConfiguration(path, checks);
    } catch (const YAML::Exception& error) {
        throw ConfigurationError(path + ":" + std::to_string(error.mark.line + 1) +
                                 ": not valid YAML: " + error.msg);
    } catch (const std::bad_alloc&) {
        throw ConfigurationError(path + ": cannot be read: not enough memory");
    }
}

}  // namespace Varkon::QuilGateway

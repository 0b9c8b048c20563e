// The gateway's configuration file, through the reading and checking that `quil-gateway --check`
// and a reload do. Invariant: a file is either a configuration or one ConfigurationError naming
// the file; nothing else is thrown, and a configuration read keeps its bounds.
#include "ConfigurationFile.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A folder of its own with the password file the seeds name, and the file each input is
// written to.
const std::string& ConfigurationPath() {
    static const std::string path = [] {
        std::string folder =
            (std::filesystem::temp_directory_path() / "quil-config-fuzz-XXXXXX").string();
        if (mkdtemp(folder.data()) == nullptr) {
            std::abort();
        }
        std::ofstream(folder + "/operator.pw") << "operator\n";
        return folder + "/gateway.yaml";
    }();
    return path;
}

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Varkon::QuilGateway;
    const std::string& path = ConfigurationPath();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    try {
        const Configuration configuration = LoadConfiguration(path);
        Require(!configuration.sensors.empty());
        Require(configuration.nodeId.size() <= kMaxNameLength &&
                configuration.groupId.size() <= kMaxNameLength &&
                configuration.broker.host.size() <= kMaxHostLength);
        for (const SensorSettings& sensor : configuration.sensors) {
            Require(sensor.name.size() <= kMaxNameLength && sensor.host.size() <= kMaxHostLength);
        }
    } catch (const ConfigurationError& error) {
        Require(std::string(error.what()).rfind(path, 0) == 0);
    }
    return 0;
}

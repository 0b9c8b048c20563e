// quil demo: a tour of the library's main job against a virtual sensor started in this process.
#include "Commands.h"
#include "Counted.h"
#include "Files.h"
#include "StreamCapture.h"

#include <quil/sim/VirtualSensor.h>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <filesystem>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace QuilTool {
namespace {

struct DemoOptions {
    std::string output = "quil-demo";
    std::string address = "127.0.0.77";
    // Port 80, as a sensor serves it, needs root; an ordinary user's demo takes another.
    uint16_t webSocketPort = VirtualSensorPort();
    uint16_t port = 5077;
    std::size_t profiles = 1000;

    // How the client names the sensor: its address, with the port when it is not 80.
    std::string Sensor() const {
        return webSocketPort == 80 ? address : address + ":" + std::to_string(webSocketPort);
    }
};

class Tour {
public:
    Tour(Context& context, const DemoOptions& options)
        : context(context), out(*context.out), options(options) {}

    void Run() {
        std::filesystem::create_directories(options.output);
        Step("Starting a virtual sensor on " + options.address + " (port " +
             std::to_string(options.webSocketPort) + ")");
        Varkon::QUILApi::Sim::VirtualSensorOptions simOptions;
        simOptions.address = options.address;
        simOptions.webSocketPort = options.webSocketPort;
        simOptions.profileRate = 1000.0;
        Varkon::QUILApi::Sim::VirtualSensor sensor(simOptions);

        auto quil = Varkon::QUILApi::Quil::Create(options.Sensor(), options.port);
        quil->Connect();
        const auto identity = quil->GetSensorMetaData();
        Step("Connected to " + identity.vendorName + " " + identity.sensorType + ", serial " +
             identity.serialNumber + ", version " + identity.aggregateVersion);

        quil->Login("maintenance", "maintenance");
        Step("Logged in as maintenance");

        const auto unit = quil->GetExposureTimeMeta().timeUnit;
        const auto limits = quil->GetExposureTimeLimits();
        const uint32_t exposure = quil->GetExposureTime();
        const double laser = quil->GetLaserPower();
        Step("Exposure time " + std::to_string(exposure) + " " + unit + " (" +
             std::to_string(limits.minTime) + " to " + std::to_string(limits.maxTime) +
             "), laser power " + Number(laser));

        const std::string backupFile = File("settings-backup.txt");
        const std::string blob = quil->ReadAllSettings();
        WriteFile(backupFile, [&](std::ostream& file) { file << blob; });
        Step("Backed up " + std::to_string(blob.size()) + " bytes of settings to " + backupFile);

        const uint32_t changed = std::min(limits.maxTime, std::max(limits.minTime, exposure * 2));
        quil->SetExposureTime(changed);
        const auto laserLimits = quil->GetLaserPowerLimits();
        quil->SetLaserPower(laserLimits.minFactor);
        Step("Changed the exposure time to " + std::to_string(quil->GetExposureTime()) + " " +
             unit + " and the laser power to " + Number(quil->GetLaserPower()));

        quil->WriteAllSettings(blob);
        const bool restored = quil->GetExposureTime() == exposure && quil->GetLaserPower() == laser;
        Step(std::string("Restored the backup: exposure time ") +
             std::to_string(quil->GetExposureTime()) + " " + unit + ", laser power " +
             Number(quil->GetLaserPower()) + (restored ? " (as before)" : " (NOT as before)"));

        const auto coordinates = Varkon::QUILApi::ProfileCoordinates::Read(*quil);
        HeightMapCollector heightMap(coordinates);
        std::ostringstream cloudText;
        CaptureFormat cloudFormat;
        cloudFormat.format = "ply";
        cloudFormat.yStep = 0.2;
        cloudFormat.sensor = quil->GetSensorMetaData();
        const auto cloud = MakeCaptureWriter(cloudFormat, coordinates, cloudText);
        TeeWriter both({&heightMap, cloud.get()});
        CaptureLimits captureLimits;
        captureLimits.count = options.profiles;
        Step("Capturing " + std::to_string(options.profiles) +
             " profiles from the UDP stream on port " + std::to_string(options.port));
        context.host = options.Sensor();
        CaptureTarget target;
        target.port = options.port;
        counts = CaptureFromSensor(context, *quil, target, captureLimits, both,
                                   [](const CaptureCounts&) {});
        WriteFile(File("profiles.ply"), [&](std::ostream& file) { file << cloudText.str(); });
        Step("Received " + Counted(counts.profiles, "profile") + " in " +
             Number(counts.elapsed.count()) + " s, lost " + std::to_string(counts.Lost()) +
             ", duplicated " + std::to_string(counts.statistics.blocksDuplicated));

        const auto image = quil->GetImage();
        quil->SaveImage(File("camera.pgm"), image);
        WriteProfileFile(File("profile.svg"), quil->GetProfile(), coordinates);
        WriteHeightMapFile(File("heightmap.png"), heightMap.map, coordinates, Palette::Perceptual);
        WriteHeightMapFile(File("heightmap.pgm"), heightMap.map, coordinates, Palette::Grey);
        Step("Saved the camera image, a profile plot and a height map");

        quil->Logout();
        quil->Disconnect();

        out << "\nSummary\n"
            << "  sensor:        " << identity.vendorName << " " << identity.sensorType
            << " (virtual, " << options.address << ")\n"
            << "  settings:      changed, backed up and restored "
            << (restored ? "exactly" : "NOT exactly") << "\n"
            << "  stream:        " << Counted(counts.profiles, "profile") << ", " << counts.Lost()
            << " lost, " << counts.statistics.blocksDuplicated << " duplicated, "
            << (counts.LostData() ? "with" : "no") << " data lost\n"
            << "  files in " << options.output << "/:\n";
        for (const char* name : {"settings-backup.txt", "profiles.ply", "camera.pgm", "profile.svg",
                                 "heightmap.png", "heightmap.pgm"}) {
            out << "    " << std::left << std::setw(20) << name << std::right
                << std::filesystem::file_size(File(name)) << " bytes\n";
        }
        if (!restored || counts.LostData()) {
            throw std::runtime_error("the demo did not run cleanly (see the summary above)");
        }
    }

private:
    void Step(const std::string& text) { out << "* " << text << "\n" << std::flush; }

    std::string File(const std::string& name) const {
        return (std::filesystem::path(options.output) / name).string();
    }

    static std::string Number(double value) {
        std::ostringstream text;
        text << value;
        return text.str();
    }

    Context& context;
    std::ostream& out;
    const DemoOptions& options;
    CaptureCounts counts;
};

}  // namespace

uint16_t VirtualSensorPort() {
    return geteuid() == 0 ? 80 : 8077;
}

void AddDemoCommand(CLI::App& app, Context& context) {
    static DemoOptions options;
    auto* demo = app.add_subcommand(
        "demo",
        "Start a virtual sensor in this process and tour the library: identify, log in, "
        "change, back up and restore settings, capture the profile stream, and save a "
        "camera image, a profile plot and a height map");
    SetExamples(*demo, {"quil demo --output quil-demo"});
    demo->add_option("--output,-o", options.output, "Folder for the files")->capture_default_str();
    demo->add_option("--address", options.address, "Loopback address for the virtual sensor")
        ->capture_default_str();
    demo->add_option("--ws-port", options.webSocketPort,
                     "TCP port of the virtual sensor's WebSocket service (default: 80 for root, "
                     "8077 for an ordinary user, who may not listen on port 80)")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    demo->add_option("--port", options.port, "Local UDP port for the stream")
        ->capture_default_str();
    demo->add_option("--profiles", options.profiles, "Profiles to capture")->capture_default_str();
    demo->callback([&context] { Tour(context, options).Run(); });
}

}  // namespace QuilTool

// A small tool-like program against the installed package: it connects, reads settings and
// shows them as JSON the way `quil get` does, and checks them against an installed virtual sensor;
// it applies a settings document with the catalogue of settings, as `quil config load` does.
#include <quil/Json.h>
#include <quil/Quil.h>
#include <quil/catalogue/Document.h>
#include <quil/sim/VirtualSensor.h>

#include <nlohmann/json.hpp>

#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

using Varkon::QUILApi::Quil;

// The library alone: the text of a failed connection.
bool RefusesAnAbsentSensor() {
    auto client = Quil::Create(QUIL_ABSENT_ADDRESS, QUIL_UDP_PORT);
    try {
        client->Connect();
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()) == "Could not connect to host " QUIL_ABSENT_ADDRESS) {
            return true;
        }
        std::cerr << e.what() << "\n";
    }
    return false;
}

// The installed virtual sensor, read through the library.
bool ReadsTheVirtualSensor() {
    Varkon::QUILApi::Sim::VirtualSensorOptions options;
    options.address = QUIL_SENSOR_ADDRESS;
    Varkon::QUILApi::Sim::VirtualSensor sensor(options);
    auto client = Quil::Create(QUIL_SENSOR_ADDRESS, QUIL_UDP_PORT);
    client->Connect();
    const uint32_t exposure = client->GetExposureTime();
    const nlohmann::json trigger = client->GetTrigger();  // a record as JSON, by its keys
    client->Disconnect();
    if (exposure != sensor.Read("ExposureTime")["ExposureTime"].get<uint32_t>()) {
        std::cerr << "exposure time " << exposure << " differs from the sensor's\n";
        return false;
    }
    if (trigger != sensor.Read("Trigger")) {
        std::cerr << "trigger " << trigger.dump() << " differs from the sensor's\n";
        return false;
    }
    std::cout << "trigger = " << trigger.dump() << "\n";
    return true;
}

// The catalogue of settings: a document checked against the sensor's limits before anything is
// written, then applied.
bool AppliesASettingsDocument() {
    namespace Catalogue = Varkon::QUILApi::Catalogue;
    Varkon::QUILApi::Sim::VirtualSensorOptions options;
    options.address = QUIL_SENSOR_ADDRESS;
    Varkon::QUILApi::Sim::VirtualSensor sensor(options);
    auto client = Quil::Create(QUIL_SENSOR_ADDRESS, QUIL_UDP_PORT);
    client->Connect();
    client->Login("maintenance", "maintenance");
    const std::string expected =
        "exposure-time must be a whole number from 10 to 100000 us; got \"5\"";
    try {
        Catalogue::ApplyDocument(*client, {{"laser-power", 0.5}, {"exposure-time", 5}});
        std::cerr << "an exposure time below the limit was applied\n";
        return false;
    } catch (const Catalogue::InvalidDocument& e) {
        if (e.what() != expected) {
            std::cerr << "refused with \"" << e.what() << "\", expected \"" << expected << "\"\n";
            return false;
        }
    }
    const auto applied = Catalogue::ApplyDocument(*client, {{"exposure-time", 811}});
    client->Disconnect();
    if (applied.written != std::vector<std::string>{"exposure-time"} ||
        sensor.Read("ExposureTime")["ExposureTime"] != 811) {
        std::cerr << "the exposure time was not applied\n";
        return false;
    }
    return true;
}

// The installed library's version is the package's.
bool ReportsThePackageVersion() {
    if (Quil::Version() == QUIL_EXPECTED_VERSION) {
        return true;
    }
    std::cerr << "version " << Quil::Version() << ", expected " QUIL_EXPECTED_VERSION "\n";
    return false;
}

int main() {
    if (ReportsThePackageVersion() && RefusesAnAbsentSensor() && ReadsTheVirtualSensor() &&
        AppliesASettingsDocument()) {
        std::cout << "ok\n";
        return 0;
    }
    return 1;
}

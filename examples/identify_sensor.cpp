// Connects to a sensor, logs in, reads the sensor's identity and disconnects.
//
// Without arguments it starts a virtual sensor in this process on 127.0.0.80 and talks to that;
// with a host argument it talks to the sensor at that address.
#include <quil/Quil.h>
#include <quil/sim/VirtualSensor.h>

#include <exception>
#include <iostream>
#include <memory>

using Varkon::QUILApi::Quil;

int main(int argc, char** argv) {
    std::unique_ptr<Varkon::QUILApi::Sim::VirtualSensor> sensor;
    std::string host = argc > 1 ? argv[1] : "";
    try {
        if (host.empty()) {
            host = "127.0.0.80";
            Varkon::QUILApi::Sim::VirtualSensorOptions options;
            options.address = host;
            options.passwords["maintenance"] = "secret";
            sensor = std::make_unique<Varkon::QUILApi::Sim::VirtualSensor>(options);
            std::cout << "Started a virtual sensor on " << host << "\n";
        }

        auto client = Quil::Create(host, 5000);
        std::cout << "Connecting to " << host << " ...\n";
        client->Connect();
        std::cout << "Logging in as \"maintenance\" ...\n";
        client->Login("maintenance", "secret");

        const auto identity = client->GetSensorMetaData();
        std::cout << "Sensor identity:\n"
                  << "  vendor:              " << identity.vendorName << "\n"
                  << "  type:                " << identity.sensorType << "\n"
                  << "  serial number:       " << identity.serialNumber << "\n"
                  << "  version:             " << identity.aggregateVersion << "\n"
                  << "  controller versions: " << identity.controllerVersions << "\n";

        client->Logout();
        client->Disconnect();
        std::cout << "Disconnected.\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
}

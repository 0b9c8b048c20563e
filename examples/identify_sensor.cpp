// Connects to a sensor, logs in, reads the sensor's identity and disconnects.
//
// Without arguments it starts the in-process test sensor on 127.0.0.80 and talks to that;
// with a host argument it talks to the sensor at that address.
#include <quil/Quil.h>

#include "TestSensor.h"

#include <exception>
#include <iostream>
#include <memory>

using Varkon::QUILApi::Quil;

int main(int argc, char** argv) {
    std::unique_ptr<Varkon::QUILApi::Sim::TestSensor> sensor;
    std::string host = argc > 1 ? argv[1] : "";
    try {
        if (host.empty()) {
            host = "127.0.0.80";
            sensor = std::make_unique<Varkon::QUILApi::Sim::TestSensor>(host);
            sensor->SetResource("SensorMetaData", {{"vendorName", "Varkon"},
                                                   {"sensorType", "QL-2D 100"},
                                                   {"serialNumber", "100042"},
                                                   {"aggregateVersion", "1.4.2"},
                                                   {"ifaceCtrlVersion", "2.1.0"},
                                                   {"measCtrlVersion", "3.4.1"},
                                                   {"lasCtrlVersion", "1.0.7"}});
            std::cout << "Started the test sensor on " << host << "\n";
        }

        auto client = Quil::Create(host, 5000);
        std::cout << "Connecting to " << host << " ...\n";
        client->Connect();
        std::cout << "Logging in as \"admin\" ...\n";
        client->Login("admin", "secret");

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

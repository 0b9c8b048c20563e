// Receives 200 profiles of the sensor's UDP stream, converts them to millimetres and prints the
// stream's counts.
//
//     stream_profiles [ADDRESS [UDP_PORT]]
//
// A virtual sensor runs in this process on ADDRESS (127.0.0.77), on port 80 as root and on port
// 8077 otherwise, and streams to UDP_PORT (5077); with a real sensor, connect to its address
// instead and leave the VirtualSensor out.
#include <quil/ProfileCoordinates.h>
#include <quil/sim/VirtualSensor.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <exception>
#include <iostream>
#include <string>

using namespace Varkon::QUILApi;

int main(int argc, char** argv) {
    const std::string address = argc > 1 ? argv[1] : "127.0.0.77";
    const auto udpPort = static_cast<unsigned short>(argc > 2 ? std::stoi(argv[2]) : 5077);
    try {
        Sim::VirtualSensorOptions options;
        options.address = address;
        options.webSocketPort = ::geteuid() == 0 ? 80 : 8077;  // port 80 needs root
        Sim::VirtualSensor sensor(options);

        auto client = Quil::Create(address + ":" + std::to_string(options.webSocketPort), udpPort);
        client->Connect();
        client->Login("operator", "operator");
        const ProfileCoordinates millimetres = ProfileCoordinates::Read(*client);
        auto stream = client->GetStream();
        stream->Start();
        int received = 0;
        double highest = -INFINITY;
        {
            // The sensor's output aims at this host with data id 1 until the scope ends.
            StreamOutputAim aim(*client, udpPort, {1});
            for (; received < 200; ++received) {
                const auto profile = stream->PopProfileFor(std::chrono::seconds(2));
                if (!profile) {
                    for (const std::string& reason : client->DiagnoseStream()) {
                        std::cerr << reason << "\n";
                    }
                    break;
                }
                for (double z : millimetres.Convert(*profile).z) {
                    highest = std::isnan(z) ? highest : std::max(highest, z);
                }
            }
        }
        const UdpStreaming::StreamStatistics counts = stream->GetStatistics();
        std::cout << received << " profiles, highest point " << highest << " mm, "
                  << counts.blocksLost << " blocks lost\n";
        client->Disconnect();
        return received == 200 ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
}

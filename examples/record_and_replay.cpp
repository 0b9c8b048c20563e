// Records the sensor's UDP stream into a capture file while receiving it, then replays the
// capture as fast as possible through the same stream interface.
//
//     record_and_replay [CAPTURE [ADDRESS [UDP_PORT]]]
//
// CAPTURE is written (stream.pcap, with its description stream.json beside it). A virtual sensor
// runs in this process on ADDRESS (127.0.0.77), on port 80 as root and on port 8077 otherwise,
// and streams to UDP_PORT (5077).
#include <quil/Quil.h>
#include <quil/sim/VirtualSensor.h>

#include <unistd.h>

#include <chrono>
#include <exception>
#include <iostream>
#include <string>

using namespace Varkon::QUILApi;

int main(int argc, char** argv) {
    const std::string capture = argc > 1 ? argv[1] : "stream.pcap";
    const std::string address = argc > 2 ? argv[2] : "127.0.0.77";
    const auto udpPort = static_cast<unsigned short>(argc > 3 ? std::stoi(argv[3]) : 5077);
    try {
        Sim::VirtualSensorOptions options;
        options.address = address;
        options.webSocketPort = ::geteuid() == 0 ? 80 : 8077;  // port 80 needs root
        Sim::VirtualSensor sensor(options);

        auto client = Quil::Create(address + ":" + std::to_string(options.webSocketPort), udpPort);
        client->Connect();
        client->Login("operator", "operator");
        auto live = client->GetStream();
        live->StartRecording(capture);
        live->Start();
        int recorded = 0;
        {
            StreamOutputAim aim(*client, udpPort, {1});
            while (recorded < 200 && live->PopProfileFor(std::chrono::seconds(2))) {
                ++recorded;
            }
        }
        const UdpStreaming::RecordingStatus status = live->StopRecording();
        if (!status.error.empty()) {
            std::cerr << "error: " << status.error << "\n";
            return 1;
        }
        client->Disconnect();

        UdpStreaming::ReplayOptions replayOptions;
        replayOptions.speed = UdpStreaming::ReplayOptions::kAsFastAsPossible;
        auto replay = UdpStreaming::RecordingReplay::Open(capture, replayOptions);
        auto replayed = replay->GetStream();
        replayed->Start();
        int profiles = 0;
        while (replayed->PopProfileFor(std::chrono::seconds(2))) {
            ++profiles;
        }
        std::cout << recorded << " profiles received, " << status.datagramsWritten
                  << " datagrams recorded, " << profiles << " profiles replayed\n";
        return recorded > 0 && profiles >= recorded ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
}

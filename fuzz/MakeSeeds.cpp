// Writes the seed corpora of the fuzz targets from what the virtual sensor sends: its replies to
// every operation the reply fuzzer knows, its stream blocks as datagrams, and image pixels.
// Usage: quil_fuzz_seeds CORPUS_DIR (run as root: the sensor listens on 127.0.18.40:80).
#include "Operations.h"

#include "api/QuilApi.h"
#include "websockets/Protocol.h"
#include "websockets/VarkonWebsocketApi.h"

#include <quil/sim/Packets.h>
#include <quil/sim/VirtualSensor.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Fuzzing {
namespace {

constexpr const char* kAddress = "127.0.18.40";

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Passes requests to the real channel and keeps the text of every reply.
class RecordingChannel : public WebSockets::IVarkonWebsocketApi {
public:
    explicit RecordingChannel(std::shared_ptr<WebSockets::IVarkonWebsocketApi> channel)
        : channel(std::move(channel)) {}
    void Connect() override { channel->Connect(); }
    void Close() override {}
    std::unique_ptr<nlohmann::json> SendAndWait(const nlohmann::json& request,
                                                unsigned timeoutMs) override {
        auto reply = channel->SendAndWait(request, timeoutMs);
        replies.push_back(reply->dump());
        return reply;
    }

    std::shared_ptr<WebSockets::IVarkonWebsocketApi> channel;
    std::vector<std::string> replies;
};

// One record of the packet fuzzer's input: clock step, length, datagram.
std::string Record(uint8_t step, const Sim::Bytes& datagram) {
    std::string record{static_cast<char>(step), static_cast<char>(datagram.size() & 0xFF),
                       static_cast<char>(datagram.size() >> 8)};
    return record + std::string(datagram.begin(), datagram.end());
}

std::string Block(uint32_t blockId, const Sim::Bytes& payload, uint8_t step = 0) {
    std::string records;
    for (const auto& datagram : Sim::Datagrams(blockId, payload)) {
        records += Record(step, datagram);
    }
    return records;
}

}  // namespace
}  // namespace Varkon::QUILApi::Fuzzing

int main(int argc, char** argv) {
    using namespace Varkon::QUILApi;
    using namespace Varkon::QUILApi::Fuzzing;
    if (argc != 2) {
        std::cerr << "usage: quil_fuzz_seeds CORPUS_DIR\n";
        return 2;
    }
    const std::string corpus = argv[1];
    Sim::VirtualSensorOptions options;
    options.address = kAddress;
    options.pointsPerProfile = 16;
    Sim::VirtualSensor sensor(options);

    auto channel = std::make_shared<RecordingChannel>(
        std::make_shared<WebSockets::VarkonWebsocketApi>(kAddress));
    channel->Connect();
    for (const auto& operation : Operations()) {
        channel->replies.clear();
        QuilApi client(std::make_unique<WebSockets::Protocol>(channel), nullptr);
        try {
            operation.run(client);
        } catch (const std::exception& e) {
            std::cerr << operation.name << ": " << e.what() << "\n";
        }
        std::string seed = operation.name;
        for (const auto& reply : channel->replies) {
            seed += std::string(1, '\0') + reply;
        }
        WriteFile(corpus + "/reply/" + operation.name, seed);
    }

    const auto image = sensor.Read("Image");
    WriteFile(corpus + "/base64/pixels", image.at("pixels").get<std::string>());
    WriteFile(corpus + "/base64/padded", "AAECAw==");

    const Sim::Acquired frame = sensor.Capture(7, 1500000);
    const auto profile = Sim::ProfilePayload(frame, 3);
    WriteFile(corpus + "/udp/measurement", Block(1, Sim::MeasurementPayload(frame)));
    WriteFile(corpus + "/udp/profiles", Block(1, Sim::ProfilePayload(frame, 1)) +
                                            Block(2, Sim::ProfilePayload(frame, 2)) +
                                            Block(3, profile));
    // A block of three frames arriving out of order, then one whose last frame never comes
    // and which times out when the next block arrives 1.2 s later.
    Sim::Bytes large = profile;
    while (large.size() <= 2 * Sim::PacketLayout::kMaxPayload) {
        large.insert(large.end(), profile.begin() + 24, profile.end());
    }
    const auto first = Sim::Datagrams(4, large);
    const auto second = Sim::Datagrams(5, large);
    WriteFile(corpus + "/udp/fragments", Record(0, first[0]) + Record(0, first[2]) +
                                             Record(0, first[1]) + Record(0, second[0]) +
                                             Record(0, second[1]) +
                                             Block(6, Sim::MeasurementPayload(frame), 120));
    return 0;
}

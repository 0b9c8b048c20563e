// Writes the seed corpora of the fuzz targets from what the virtual sensor sends: its replies to
// every operation the reply fuzzer knows, its stream blocks as datagrams, image pixels, and
// captures of its datagrams (pcap as recordings write it, pcapng, every link type, fragments).
// Usage: quil_fuzz_seeds CORPUS_DIR (run as root: the sensor listens on 127.0.18.40:80).
#include "Operations.h"

#include "api/QuilApi.h"
#include "recording/CaptureBytes.h"
#include "udpstreaming/recording/PcapWriter.h"
#include "websockets/Protocol.h"
#include "websockets/VarkonWebsocketApi.h"

#include <quil/sim/Packets.h>
#include <quil/sim/VirtualSensor.h>

#include <algorithm>
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

// The capture seeds: `datagrams` (sent to port 29100, 1 ms apart) as a recording writes them,
// in every link type and in pcapng, and one large datagram as IPv4 fragments out of order.
void WriteCaptureSeeds(const std::string& corpus, const std::vector<Sim::Bytes>& datagrams) {
    using namespace UdpStreaming::Recording;
    namespace Captures = Testing::Captures;
    constexpr uint16_t kPort = 29100;
    constexpr uint64_t kStartMicroseconds = 1'700'000'000'000'000;
    {
        PcapWriter writer(corpus + "/pcap/recording", kPort);
        DatagramRing::Slot slot{};
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            slot.arrivalMicroseconds = static_cast<int64_t>(kStartMicroseconds + 1000 * i);
            slot.senderAddress = slot.receiverAddress = 0x7F000001;
            slot.senderPort = 5000;
            slot.size = slot.wireSize = static_cast<uint32_t>(datagrams[i].size());
            std::copy(datagrams[i].begin(), datagrams[i].end(), slot.Datagram());
            writer.Write(slot);
        }
        writer.Close();
    }
    const auto records = [&](uint32_t linkType, uint64_t start, uint64_t step) {
        std::vector<Captures::Record> all;
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            all.push_back(
                {start + step * i,
                 Captures::Frame(linkType, Captures::Ipv4Whole(datagrams[i], kPort,
                                                               static_cast<uint16_t>(i)))});
        }
        return all;
    };
    const std::pair<const char*, uint32_t> links[] = {{"ethernet", Captures::kLinkEthernet},
                                                      {"cooked", Captures::kLinkCooked},
                                                      {"cooked2", Captures::kLinkCooked2}};
    for (const auto& [name, linkType] : links) {
        WriteFile(corpus + "/pcap/" + name,
                  Captures::PcapFile(linkType, records(linkType, kStartMicroseconds, 1000)));
    }
    WriteFile(
        corpus + "/pcap/pcapng-nanoseconds",
        Captures::PcapngFile(Captures::kLinkRawIp, 9,
                             records(Captures::kLinkRawIp, kStartMicroseconds * 1000, 1000000)));
    WriteFile(corpus + "/pcap/pcapng-seconds",
              Captures::PcapngFile(Captures::kLinkRawIp, 0,
                                   records(Captures::kLinkRawIp, kStartMicroseconds / 1000000, 1)));
    // The largest datagram in 1,480-byte fragments, the last first.
    const Sim::Bytes& large = *std::max_element(
        datagrams.begin(), datagrams.end(),
        [](const Sim::Bytes& a, const Sim::Bytes& b) { return a.size() < b.size(); });
    std::vector<Captures::Record> fragments;
    for (std::size_t offset = 0; offset < large.size() + 8; offset += 1480) {
        fragments.insert(fragments.begin(),
                         {kStartMicroseconds + offset,
                          Captures::Frame(Captures::kLinkEthernet,
                                          Captures::Ipv4Part(large, kPort, 7, offset, 1480))});
    }
    WriteFile(corpus + "/pcap/fragments", Captures::PcapFile(Captures::kLinkEthernet, fragments));
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

    std::vector<Sim::Bytes> datagrams = Sim::Datagrams(1, Sim::MeasurementPayload(frame));
    for (const auto& part : first) {
        datagrams.push_back(part);
    }
    WriteCaptureSeeds(corpus, datagrams);
    return 0;
}

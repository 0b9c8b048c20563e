#include "udpstreaming/DatagramHandler.h"

#include <string>
#include <utility>

#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/protocol/PayloadDecoder.h"

namespace Varkon::QUILApi::UdpStreaming {

namespace {

const std::string kTaskExceptionPrefix = "Exception in streaming task: ";

}  // namespace

DatagramHandler::DatagramHandler(StreamCounters& counters, StreamQueues& queues,
                                 Recording::RecordingTap& tap)
    : counters(counters), queues(queues), tap(tap) {
    protocol.SetCounters(counters);
    // Installed once, before the worker exists, so that no replacement can race HandlePacket.
    protocol.SetDataCallback([this](const uint32_t blockId, const std::vector<uint8_t>& payload) {
        return OnData(blockId, payload);
    });
    protocol.SetErrorCallback([this](const uint32_t blockId, PacketErrorType type,
                                     std::string message) { OnError(blockId, type, message); });
}

void DatagramHandler::Handle(const std::vector<uint8_t>& datagram,
                             const Transport::IUdpTransport::ReceiveInfo& info) {
    const uint32_t accepted = acceptedSender.load(std::memory_order_relaxed);
    if (accepted != kEverySender && info.senderAddress != accepted) {
        counters.Add<&StreamStatistics::datagramsOtherSender>();
        return;
    }
    handledArrival = arrivalTimes.load(std::memory_order_relaxed) ? info.arrivalMicroseconds : 0;
    counters.Add<&StreamStatistics::datagramsReceived>();
    counters.Add<&StreamStatistics::bytesReceived>(datagram.size());
    counters.Raise<&StreamStatistics::kernelDrops>(info.kernelDrops);
    tap.Offer(datagram, info);
    if (info.truncated) {
        // The rest of the block is gone; decoding the part would deliver wrong points.
        counters.Add<&StreamStatistics::datagramsTooLong>();
        const uint32_t blockId = datagram.size() >= Protocol::PacketHeader::kSize
                                     ? Protocol::PacketHeader::BlockId(datagram)
                                     : 0;
        OnError(blockId, InvalidPacket,
                "Packet is longer than " + std::to_string(Protocol::kMaxDatagramSize) +
                    " bytes and was cut off.");
        return;
    }
    protocol.HandlePacket(datagram);
}

void DatagramHandler::FileFailure(const std::string& reason) {
    queues.FileUrgent(StreamError{0, StreamingTaskException, kTaskExceptionPrefix + reason});
}

bool DatagramHandler::OnData(const uint32_t& blockId, const std::vector<uint8_t>& payload) {
    if (payload.empty()) {
        counters.Add<&StreamStatistics::blocksEmpty>();
        queues.FileUrgent(
            StreamError{blockId, EmptyContent, "Received a packet with empty content."});
        return false;
    }
    // Decoding runs outside the queues' mutex, so that readers never wait for it.
    try {
        switch (payload[0]) {
            case Protocol::kMeasurementData: {
                StreamMeasurement measurement = Protocol::DecodeMeasurement(blockId, payload);
                counters.Add<&StreamStatistics::measurementBlocks>();
                queues.Stage(measurement);
                return true;
            }
            case Protocol::kProfileChannels01:
            case Protocol::kProfileChannels02:
            case Protocol::kProfileChannels012: {
                StreamProfile profile = queues.SpareProfile();
                Protocol::DecodeProfileInto(blockId, payload, profile);
                CountProfileBlock(payload[0]);
                queues.Stage(TimedProfile{std::move(profile), handledArrival});
                return true;
            }
            default:
                counters.Add<&StreamStatistics::blocksUnknownDataId>();
                return false;
        }
    } catch (const std::exception& e) {
        counters.Add<&StreamStatistics::decodeFailures>();
        FileFailure(e.what());
        return false;
    }
}

void DatagramHandler::OnError(const uint32_t& blockId, PacketErrorType type,
                              const std::string& message) {
    queues.Stage(StreamError{blockId, type, message});
}

void DatagramHandler::CountProfileBlock(uint8_t dataId) {
    switch (dataId) {
        case Protocol::kProfileChannels01:
            counters.Add<&StreamStatistics::profileBlocks1>();
            break;
        case Protocol::kProfileChannels02:
            counters.Add<&StreamStatistics::profileBlocks2>();
            break;
        default:
            counters.Add<&StreamStatistics::profileBlocks3>();
            break;
    }
}

}  // namespace Varkon::QUILApi::UdpStreaming

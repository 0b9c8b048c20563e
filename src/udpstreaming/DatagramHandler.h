#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/StreamCounters.h"
#include "udpstreaming/StreamQueues.h"
#include "udpstreaming/protocol/UdpStreamingProtocol.h"
#include "udpstreaming/recording/RecordingTap.h"
#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming {

// What the stream's worker does with each datagram: drops it when it comes from a sender other
// than the accepted one, counts it, offers it to the recording tap, hands it to the protocol
// and, in the protocol's callbacks, decodes the blocks and stages records and errors in the
// queues, which file them at the end of the run of datagrams (StreamQueues::FlushWake).
//
// Threads: Handle, DropTimedOut and FileFailure run on the worker only; AcceptOnlyFrom and
// SetArrivalTimes on any thread, taking effect from the next datagram.
class DatagramHandler {
public:
    static constexpr uint32_t kEverySender = 0;  // 0.0.0.0, never a sender's address

    DatagramHandler(StreamCounters& counters, StreamQueues& queues, Recording::RecordingTap& tap);
    DatagramHandler(const DatagramHandler&) = delete;
    DatagramHandler& operator=(const DatagramHandler&) = delete;

    // An IPv4 address in host byte order, or kEverySender.
    void AcceptOnlyFrom(uint32_t address) { acceptedSender = address; }
    void SetArrivalTimes(bool enabled) { arrivalTimes = enabled; }

    void Handle(const std::vector<uint8_t>& datagram,
                const Transport::IUdpTransport::ReceiveInfo& info);
    // Lets the partial blocks whose time is up go, without a next datagram.
    void DropTimedOut() { protocol.DropTimedOut(); }
    // Files the failure that ends the worker.
    void FileFailure(const std::string& reason);

private:
    // Whether the block is one of the stream's: a known data id that decodes.
    bool OnData(const uint32_t& blockId, const std::vector<uint8_t>& payload);
    void OnError(const uint32_t& blockId, PacketErrorType type, const std::string& message);
    void CountProfileBlock(uint8_t dataId);

    StreamCounters& counters;
    StreamQueues& queues;
    Recording::RecordingTap& tap;
    Protocol::UdpStreamingProtocol protocol;
    std::atomic<uint32_t> acceptedSender{kEverySender};
    std::atomic<bool> arrivalTimes{false};
    int64_t handledArrival = 0;  // of the datagram in hand, when wanted
};

}  // namespace Varkon::QUILApi::UdpStreaming

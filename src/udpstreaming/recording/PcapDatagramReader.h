#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/recording/CaptureFile.h"
#include "udpstreaming/recording/Ipv4Reassembler.h"
#include "udpstreaming/recording/LinkLayer.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// One UDP datagram found in a capture.
struct CapturedDatagram {
    int64_t timeNanoseconds = 0;  // capture time, since 1970
    uint32_t sender = 0;          // IPv4, host byte order
    uint16_t senderPort = 0;
    uint32_t receiver = 0;
    uint16_t receiverPort = 0;
    std::size_t wireSize = 0;    // as sent; more than bytes.size() when the capture cut it
    std::vector<uint8_t> bytes;  // the payload as captured
};

// Reads the UDP datagrams of a capture file in order (pcap with microsecond or nanosecond
// stamps, and pcapng, each frame by its interface's link type): unwraps the link layer,
// reassembles IPv4 fragments and keeps the datagrams sent to one port (or all). Everything else
// is skipped and counted, as are datagrams the capture's snap length cut. One thread uses it.
class PcapDatagramReader {
public:
    // @throws std::runtime_error "Could not open recording <path>: <reason>".
    explicit PcapDatagramReader(const std::string& path);
    ~PcapDatagramReader();
    PcapDatagramReader(const PcapDatagramReader&) = delete;
    PcapDatagramReader& operator=(const PcapDatagramReader&) = delete;

    // 0: every port.
    void SetPort(uint16_t port) { this->port = port; }
    uint16_t GetPort() const { return port; }

    // The next datagram; false at the end of the capture, where unfinished fragment sets are
    // counted as incomplete.
    // @throws std::runtime_error "Recording <path> is damaged: <reason>" when a record cannot be
    //         read (the file ends inside one, or its length is impossible).
    bool Next(CapturedDatagram& datagram);
    // Reads again from the start.
    void Rewind();

    // Counters in the public record; `passes`, `finished` and `error` are left to the caller.
    const ReplayStatistics& Statistics() const { return statistics; }

private:
    void OpenFile();
    // The UDP datagram in an IPv4 packet (whole or reassembled) that ends in `record`; false
    // when skipped.
    bool TakeUdp(const Ipv4Packet& packet, const CaptureRecord& record, CapturedDatagram& datagram);

    const std::string path;
    std::unique_ptr<CaptureFile> capture;
    uint16_t port = 0;
    Ipv4Reassembler reassembler;
    std::vector<uint8_t> reassembled;
    ReplayStatistics statistics;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

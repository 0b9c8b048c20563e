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

// Reads the UDP datagrams of a capture file in order (pcap with microsecond or nanosecond
// stamps, and pcapng, each frame by its interface's link type): unwraps the link layer,
// reassembles IPv4 fragments and keeps the datagrams sent to one port (or all). Everything else
// is skipped and counted, as are datagrams the capture's snap length cut. Several captures (the
// pieces of one recording) are read one after the other as one. One thread uses it.
class PcapDatagramReader {
public:
    // @throws std::runtime_error "Could not open recording <path>: <reason>" for the first
    //         capture; Next throws it for a later one.
    explicit PcapDatagramReader(std::vector<std::string> captures);
    ~PcapDatagramReader();
    PcapDatagramReader(const PcapDatagramReader&) = delete;
    PcapDatagramReader& operator=(const PcapDatagramReader&) = delete;

    // 0: every port.
    void SetPort(uint16_t port) { this->port = port; }
    uint16_t GetPort() const { return port; }

    // The next datagram; false at the end of the last capture, where unfinished fragment sets
    // are counted as incomplete.
    // @throws std::runtime_error "Recording <path> is damaged: <reason>" when a record cannot be
    //         read (the file ends inside one, or its length is impossible).
    bool Next(RecordedDatagram& datagram);
    // Reads again from the start.
    void Rewind();

    // Counters in the public record; `passes`, `finished` and `error` are left to the caller.
    const ReplayStatistics& Statistics() const { return statistics; }

private:
    // Opens captures[piece].
    void OpenFile();
    // The UDP datagram in an IPv4 packet (whole or reassembled) that ends in `record`; false
    // when skipped.
    bool TakeUdp(const Ipv4Packet& packet, const CaptureRecord& record, RecordedDatagram& datagram);

    const std::vector<std::string> captures;
    std::size_t piece = 0;  // the capture being read
    // The file's buffer: given to it, because the C library ignores the size asked for when it
    // allocates the buffer itself. Declared before `capture`, which closes the file, to outlive it.
    std::unique_ptr<char[]> readBuffer;
    std::unique_ptr<CaptureFile> capture;
    uint16_t port = 0;
    Ipv4Reassembler reassembler;
    std::vector<uint8_t> reassembled;
    ReplayStatistics statistics;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

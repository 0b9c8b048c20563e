#pragma once

#include <cstdint>
#include <string>

#include "udpstreaming/recording/DatagramRing.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// Writes datagrams into a pcap capture file (link type raw IP, microsecond time stamps) through
// libpcap, each as one UDP-over-IPv4 record, so that any capture reader shows them as ordinary
// UDP traffic. A datagram that arrived cut off keeps its length as sent in the record and the
// headers, as a capture with a short snapshot length would.
//
// One thread uses it. Errors are kept, not thrown, once the file is open: the first failed write
// or flush ends the writing, and Error() names it.
class PcapWriter {
public:
    // @throws std::runtime_error "Could not record to <path>: <reason>".
    PcapWriter(const std::string& path, uint16_t receiverPort);
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Writes the headers into the slot's headroom, then the record. False once writing has
    // failed.
    bool Write(DatagramRing::Slot& datagram);
    // Pushes buffered records to the file; false once writing has failed.
    bool Flush();
    // Flushes and closes; false when that failed. Idempotent.
    bool Close();
    const std::string& Error() const { return error; }

private:
    void Fail(int errorNumber);

    std::string path;
    uint16_t receiverPort;
    void* capture = nullptr;  // pcap_t, kept out of this header
    void* dumper = nullptr;   // pcap_dumper_t
    uint16_t identification = 0;
    std::string error;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "udpstreaming/recording/DatagramRing.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// Writes datagrams into a pcap capture file (link type raw IP, microsecond time stamps), each as
// one UDP-over-IPv4 record, so that any capture reader shows them as ordinary UDP traffic. A
// datagram that arrived cut off keeps its length as sent in the record and the headers, as a
// capture with a short snapshot length would.
//
// libpcap writes the file header. The records are written here, in the file format libpcap
// documents (four 32-bit words in the host's byte order, as its header declares, then the
// packet): each batch of records goes out in one system call straight from the slots, where the
// headers are filled into the headroom, instead of being copied through a stream buffer.
//
// One thread uses it, but for Abandon. Errors are kept, not thrown, once the file is open: the
// first failed write ends the writing, and Error() names it. The file is open without blocking:
// a write into a full pipe waits in poll, where Abandon (any thread) ends it.
class PcapWriter {
public:
    // @throws std::runtime_error "Could not record to <path>: <reason>".
    PcapWriter(const std::string& path, uint16_t receiverPort);
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    static constexpr std::size_t kMostPerBatch = 256;

    // Writes the records of `count` datagrams (at most kMostPerBatch), filling their headroom.
    // False once writing has failed.
    bool Write(DatagramRing::Slot* const* datagrams, std::size_t count);
    bool Write(DatagramRing::Slot& datagram) {
        DatagramRing::Slot* one = &datagram;
        return Write(&one, 1);
    }
    // Closes; false when writing failed at any time. Idempotent.
    bool Close();
    const std::string& Error() const { return error; }
    // Makes a write that waits for the file to take data fail, now or when it next waits.
    void Abandon() { abandoned = true; }

private:
    void Fail(int errorNumber);
    // Waits until the file takes data again; false once abandoned.
    bool WaitUntilWritable(int fd);

    std::string path;
    uint16_t receiverPort;
    void* capture = nullptr;     // pcap_t, kept out of this header
    void* dumper = nullptr;      // pcap_dumper_t
    bool headerWritten = false;  // libpcap's file header still waits in its buffer before
    uint16_t identification = 0;
    std::string error;
    std::atomic<bool> abandoned{false};
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

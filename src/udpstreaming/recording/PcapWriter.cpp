#include "udpstreaming/recording/PcapWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <pcap/pcap.h>

#include "udpstreaming/recording/Ipv4Udp.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

constexpr int kSnapshotLength = 65535;
constexpr std::size_t kWriteBuffer = 1 << 20;

pcap_t* AsCapture(void* p) {
    return static_cast<pcap_t*>(p);
}

pcap_dumper_t* AsDumper(void* p) {
    return static_cast<pcap_dumper_t*>(p);
}

}  // namespace

PcapWriter::PcapWriter(const std::string& path, uint16_t receiverPort)
    : path(path), receiverPort(receiverPort) {
    capture = pcap_open_dead_with_tstamp_precision(DLT_RAW, kSnapshotLength,
                                                   PCAP_TSTAMP_PRECISION_MICRO);
    if (capture == nullptr) {
        throw std::runtime_error("Could not record to " + path + ": out of memory");
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        const std::string reason = std::strerror(errno);
        pcap_close(AsCapture(capture));
        throw std::runtime_error("Could not record to " + path + ": " + reason);
    }
    // Records are small: a large buffer saves a write system call every few records.
    std::setvbuf(file, nullptr, _IOFBF, kWriteBuffer);
    dumper = pcap_dump_fopen(AsCapture(capture), file);
    if (dumper == nullptr) {
        const std::string reason = pcap_geterr(AsCapture(capture));
        std::fclose(file);
        pcap_close(AsCapture(capture));
        throw std::runtime_error("Could not record to " + path + ": " + reason);
    }
}

PcapWriter::~PcapWriter() {
    Close();
    if (capture != nullptr) {
        pcap_close(AsCapture(capture));
    }
}

bool PcapWriter::Write(DatagramRing::Slot& datagram) {
    if (!error.empty() || dumper == nullptr) {
        return false;
    }
    const auto headers =
        Ipv4UdpHeaders(datagram.senderAddress, datagram.senderPort, datagram.receiverAddress,
                       receiverPort, datagram.wireSize, identification++);
    static_assert(DatagramRing::kHeadroom == headers.size());
    uint8_t* record = datagram.record.data();
    std::memcpy(record, headers.data(), headers.size());
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(datagram.arrivalMicroseconds / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(datagram.arrivalMicroseconds % 1000000);
    header.caplen = static_cast<bpf_u_int32>(headers.size() + datagram.size);
    header.len = static_cast<bpf_u_int32>(headers.size() + datagram.wireSize);
    errno = 0;
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, record);
    if (std::ferror(pcap_dump_file(AsDumper(dumper)))) {
        Fail(errno);
        return false;
    }
    return true;
}

bool PcapWriter::Flush() {
    if (!error.empty() || dumper == nullptr) {
        return error.empty();
    }
    errno = 0;
    if (pcap_dump_flush(AsDumper(dumper)) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

bool PcapWriter::Close() {
    if (dumper == nullptr) {
        return error.empty();
    }
    Flush();
    pcap_dump_close(AsDumper(dumper));
    dumper = nullptr;
    return error.empty();
}

void PcapWriter::Fail(int errorNumber) {
    if (error.empty()) {
        error = "Could not write " + path + ": " +
                (errorNumber != 0 ? std::strerror(errorNumber) : "write failed");
    }
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

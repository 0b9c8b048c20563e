#include "udpstreaming/recording/PcapDatagramReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include <pcap/pcap.h>

#include "udpstreaming/recording/Ipv4Udp.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

constexpr std::size_t kReadBuffer = 1 << 20;

pcap_t* AsCapture(void* p) {
    return static_cast<pcap_t*>(p);
}

}  // namespace

PcapDatagramReader::PcapDatagramReader(const std::string& path) : path(path) {
    OpenFile();
}

PcapDatagramReader::~PcapDatagramReader() {
    Close();
}

void PcapDatagramReader::OpenFile() {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("Could not open recording " + path + ": " + std::strerror(errno));
    }
    // Records are small: a large buffer saves a read system call every few records.
    std::setvbuf(file, nullptr, _IOFBF, kReadBuffer);
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* opened =
        pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, error);
    if (opened == nullptr) {
        std::fclose(file);  // libpcap leaves a file it could not take to its caller
        throw std::runtime_error("Could not open recording " + path + ": " + error);
    }
    const int dataLinkType = pcap_datalink(opened);
    const auto type = LinkTypeOf(dataLinkType);
    if (!type) {
        const char* name = pcap_datalink_val_to_name(dataLinkType);
        pcap_close(opened);
        throw std::runtime_error("Could not open recording " + path + ": link type " +
                                 std::to_string(dataLinkType) +
                                 (name ? " (" + std::string(name) + ")" : "") +
                                 " is not supported; Ethernet, Linux cooked (SLL, SLL2) and raw "
                                 "IP are");
    }
    capture = opened;
    linkType = *type;
}

void PcapDatagramReader::Close() {
    if (capture != nullptr) {
        pcap_close(AsCapture(capture));
        capture = nullptr;
    }
}

void PcapDatagramReader::Rewind() {
    Close();
    reassembler.Clear();
    OpenFile();
}

bool PcapDatagramReader::Next(CapturedDatagram& datagram) {
    if (capture == nullptr) {
        return false;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    for (;;) {
        const int result = pcap_next_ex(AsCapture(capture), &header, &frame);
        if (result == PCAP_ERROR_BREAK) {
            reassembler.DropAll();
            statistics.fragmentsIncomplete = reassembler.Incomplete();
            return false;
        }
        if (result != 1) {
            const std::string reason = pcap_geterr(AsCapture(capture));
            Close();
            throw std::runtime_error("Recording " + path + " is damaged: " + reason);
        }
        ++statistics.recordsRead;
        int64_t time = 0;  // nanoseconds, as opened
        if (__builtin_mul_overflow(static_cast<int64_t>(header->ts.tv_sec), 1'000'000'000, &time) ||
            __builtin_add_overflow(time, static_cast<int64_t>(header->ts.tv_usec), &time)) {
            const uint64_t record = statistics.recordsRead;
            Close();
            throw std::runtime_error("Recording " + path +
                                     " is damaged: the time stamp of record " +
                                     std::to_string(record) + " is out of range");
        }
        const NetworkPacket network = NetworkPacketIn(linkType, frame, header->caplen);
        if (network.kind != NetworkPacket::Ipv4) {
            ++(network.kind == NetworkPacket::Other ? statistics.recordsNotUdp
                                                    : statistics.recordsMalformed);
            continue;
        }
        const auto packet = ParseIpv4(network.bytes, network.size);
        if (!packet) {
            ++statistics.recordsMalformed;
            continue;
        }
        if (packet->protocol != kProtocolUdp) {
            ++statistics.recordsNotUdp;
            continue;
        }
        if (!packet->IsFragment()) {
            if (TakeUdp(*packet, time, datagram)) {
                return true;
            }
            continue;
        }
        bool malformed = false;
        const bool complete = reassembler.Add(*packet, time, reassembled, malformed);
        statistics.fragmentsIncomplete = reassembler.Incomplete();
        if (malformed) {
            ++statistics.recordsMalformed;
        }
        if (complete) {
            Ipv4Packet whole = *packet;
            whole.payload = reassembled.data();
            whole.payloadSize = whole.declaredPayloadSize = reassembled.size();
            whole.moreFragments = false;
            whole.fragmentOffset = 0;
            if (TakeUdp(whole, time, datagram)) {
                return true;
            }
        }
    }
}

bool PcapDatagramReader::TakeUdp(const Ipv4Packet& packet, int64_t timeNanoseconds,
                                 CapturedDatagram& datagram) {
    const auto udp = ParseUdp(packet.payload, packet.payloadSize);
    if (!udp) {
        ++statistics.recordsMalformed;
        return false;
    }
    if (port != 0 && udp->destinationPort != port) {
        ++statistics.datagramsOtherPort;
        return false;
    }
    datagram.timeNanoseconds = timeNanoseconds;
    datagram.sender = packet.source;
    datagram.senderPort = udp->sourcePort;
    datagram.receiver = packet.destination;
    datagram.receiverPort = udp->destinationPort;
    datagram.wireSize = udp->declaredSize;
    datagram.bytes.assign(udp->payload, udp->payload + udp->payloadSize);
    return true;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

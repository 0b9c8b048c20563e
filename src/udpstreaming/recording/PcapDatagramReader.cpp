#include "udpstreaming/recording/PcapDatagramReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include <algorithm>
#include <memory>

#include <pcap/pcap.h>

#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/recording/Ipv4Udp.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

constexpr std::size_t kReadBuffer = 1 << 17;

}  // namespace

PcapDatagramReader::PcapDatagramReader(std::vector<std::string> captures)
    : captures(std::move(captures)), readBuffer(std::make_unique<char[]>(kReadBuffer)) {
    OpenFile();
}

PcapDatagramReader::~PcapDatagramReader() = default;

void PcapDatagramReader::OpenFile() {
    const std::string& path = captures.at(piece);
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("Could not open recording " + path + ": " + std::strerror(errno));
    }
    // Records are small: a large buffer saves a read system call every few records.
    std::setvbuf(file, readBuffer.get(), _IOFBF, kReadBuffer);
    std::unique_ptr<CaptureFile> opened;
    try {
        opened = std::make_unique<CaptureFile>(file);
    } catch (const CaptureDamage& e) {
        throw std::runtime_error("Could not open recording " + path + ": " + e.what());
    }
    const std::vector<uint32_t>& linkTypes = opened->LeadingLinkTypes();
    const bool anyRead = std::any_of(linkTypes.begin(), linkTypes.end(),
                                     [](uint32_t type) { return LinkTypeOf(type).has_value(); });
    if (!linkTypes.empty() && !anyRead) {
        const char* name = pcap_datalink_val_to_name(static_cast<int>(linkTypes[0]));
        throw std::runtime_error("Could not open recording " + path + ": link type " +
                                 std::to_string(linkTypes[0]) +
                                 (name ? " (" + std::string(name) + ")" : "") +
                                 " is not supported; Ethernet, Linux cooked (SLL, SLL2) and raw "
                                 "IP are");
    }
    capture = std::move(opened);
}

void PcapDatagramReader::Rewind() {
    capture.reset();
    reassembler.Clear();
    piece = 0;
    OpenFile();
}

bool PcapDatagramReader::Next(RecordedDatagram& datagram) {
    if (!capture) {
        return false;
    }
    CaptureRecord record;
    for (;;) {
        try {
            if (!capture->Next(record)) {
                if (piece + 1 < captures.size()) {
                    // Fragment sets go on into the next piece, as the datagrams did.
                    capture.reset();
                    ++piece;
                    OpenFile();
                    continue;
                }
                reassembler.DropAll();
                statistics.fragmentsIncomplete = reassembler.Incomplete();
                return false;
            }
        } catch (const CaptureDamage& e) {
            capture.reset();
            throw std::runtime_error("Recording " + captures[piece] + " is damaged: " + e.what());
        }
        ++statistics.recordsRead;
        const auto linkType = LinkTypeOf(record.linkType);
        if (!linkType) {
            ++statistics.recordsNotUdp;  // from an interface of a kind this reader does not read
            continue;
        }
        const NetworkPacket network = NetworkPacketIn(*linkType, record.bytes, record.capturedSize);
        if (network.kind != NetworkPacket::Ipv4) {
            ++(network.kind == NetworkPacket::Other ? statistics.recordsNotUdp
                                                    : statistics.recordsMalformed);
            continue;
        }
        const auto packet = ParseIpv4(network.bytes, network.size);
        if (!packet) {
            ++(record.CutByCapture() ? statistics.datagramsCutByCapture
                                     : statistics.recordsMalformed);
            continue;
        }
        if (packet->protocol != kProtocolUdp) {
            ++statistics.recordsNotUdp;
            continue;
        }
        if (!packet->IsFragment()) {
            if (TakeUdp(*packet, record, datagram)) {
                return true;
            }
            continue;
        }
        if (record.CutByCapture() && packet->payloadSize < packet->declaredPayloadSize) {
            ++statistics.datagramsCutByCapture;
            continue;
        }
        bool malformed = false;
        const bool complete =
            reassembler.Add(*packet, record.timeNanoseconds, reassembled, malformed);
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
            if (TakeUdp(whole, record, datagram)) {
                return true;
            }
        }
    }
}

bool PcapDatagramReader::TakeUdp(const Ipv4Packet& packet, const CaptureRecord& record,
                                 RecordedDatagram& datagram) {
    const auto udp = ParseUdp(packet.payload, packet.payloadSize);
    if (!udp) {
        ++(record.CutByCapture() ? statistics.datagramsCutByCapture : statistics.recordsMalformed);
        return false;
    }
    if (port != 0 && udp->destinationPort != port) {
        ++statistics.datagramsOtherPort;
        return false;
    }
    if (udp->payloadSize < udp->declaredSize) {
        // A datagram longer than a sensor sends is handed on cut, as a live stream receives it
        // (and as StartRecording writes it); one that only the capture's snap length cut would be
        // decoded from a part of it.
        if (!record.CutByCapture()) {
            ++statistics.recordsMalformed;
            return false;
        }
        if (udp->declaredSize <= Protocol::kMaxDatagramSize) {
            ++statistics.datagramsCutByCapture;
            return false;
        }
    }
    datagram.timeNanoseconds = record.timeNanoseconds;
    datagram.senderAddress = packet.source;
    datagram.senderPort = udp->sourcePort;
    datagram.receiverAddress = packet.destination;
    datagram.receiverPort = udp->destinationPort;
    datagram.wireSize = udp->declaredSize;
    datagram.bytes.assign(udp->payload, udp->payload + udp->payloadSize);
    return true;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

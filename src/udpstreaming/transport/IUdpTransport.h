#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming::Transport {

// The datagram socket on which the stream's data arrive.
class IUdpTransport {
public:
    virtual ~IUdpTransport() = default;

    virtual std::string GetHost() = 0;
    virtual uint16_t GetPort() = 0;
    virtual bool IsOpen() = 0;
    // Binds the socket to every local IPv4 address and the port; does nothing when open.
    virtual void Open() = 0;
    // Closes and drops the socket; never fails.
    virtual void Close() = 0;
    virtual int GetReceiveBufferSize() = 0;
    virtual void SetReceiveBufferSize(const int& bytes) = 0;
    // What a reception learned besides the bytes.
    struct ReceiveInfo {
        bool truncated = false;    // the datagram was longer than 2048 bytes and was cut
        uint64_t kernelDrops = 0;  // datagrams the system dropped on this socket so far, if known
        bool more = false;         // further datagrams were received with this one: no wait
        // Where the datagram came from and when; 0 where the transport cannot tell. The
        // address is IPv4 in host byte order.
        uint32_t senderAddress = 0;
        uint16_t senderPort = 0;
        // The address it was sent to and the system time of arrival (since 1970): only with
        // SetArrivalDetails.
        uint32_t receiverAddress = 0;
        int64_t arrivalMicroseconds = 0;
        std::size_t wireSize = 0;  // its length as sent, which exceeds the bytes when truncated
    };

    // Waits at most one second for one datagram; true when one came (possibly empty), with its
    // first 2048 bytes in `datagram` (the caller's vector, reused) and what the system said of
    // it in `info`, every field set.
    virtual bool ReceiveDatagram(std::vector<uint8_t>& datagram, ReceiveInfo& info) = 0;

    // Waits at most one second for one datagram and returns its first 2048 bytes; empty when
    // none came or the wait was interrupted.
    std::vector<uint8_t> Receive() {
        std::vector<uint8_t> datagram;
        ReceiveInfo ignored;
        if (!ReceiveDatagram(datagram, ignored)) {
            datagram.clear();
        }
        return datagram;
    }

    // Whether receptions are to tell when each datagram arrived and the address it was sent to
    // (off at first): the system then stamps every datagram, which costs on each. Transports
    // that know them anyway (a replay) tell them always.
    virtual void SetArrivalDetails(bool /*wanted*/) {}

    // Makes a receive that waits return at once without a datagram, or the next one when none
    // waits. Any thread.
    virtual void Interrupt() {}
};

}  // namespace Varkon::QUILApi::UdpStreaming::Transport

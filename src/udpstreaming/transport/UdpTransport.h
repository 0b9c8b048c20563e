#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming::Transport {

// UDP socket bound to 0.0.0.0 and a local port, accepting datagrams from any sender.
//
// Datagrams are received on the caller's thread: a non-blocking receive first, and only when the
// socket is empty a wait for readability with the time limit. On Linux one receive takes up to
// kBatch datagrams that are already queued (recvmmsg) and hands them out one by one, so under
// load a system call serves many datagrams; at a low rate it returns the one there is, so
// nothing waits for a batch to fill. There is no hand-over between threads, and nothing is
// received while no caller waits, so Close never has a pending reception to abort. Datagrams
// taken into the batch before a Close are lost with the socket.
//
// Each datagram reports whether it was cut to kReceiveBufferSize (and its length as sent), its
// sender, and, on Linux, the socket's count of datagrams the system dropped for want of buffer
// space (SO_RXQ_OVFL). With SetArrivalDetails, also its arrival time stamped by the system
// (SO_TIMESTAMP) and the address it was sent to (IP_PKTINFO); without, the system stamps
// nothing and a batch's control data is read once, for its drop count.
//
// Open, Close and the buffer size operations must not run concurrently with a Receive.
class UdpTransport : public IUdpTransport {
public:
    static constexpr std::size_t kReceiveBufferSize = 2048;
    static constexpr std::chrono::milliseconds kReceiveWait{1000};
    static constexpr std::size_t kBatch = 32;

    UdpTransport(const std::string& host, const uint16_t& port);
    ~UdpTransport() override;
    UdpTransport(const UdpTransport&) = delete;
    UdpTransport& operator=(const UdpTransport&) = delete;

    std::string GetHost() override;
    uint16_t GetPort() override;
    bool IsOpen() override;
    // Throws std::runtime_error "UdpTransport::Open Error: <step>: <reason>" on failure.
    void Open() override;
    void Close() override;
    int GetReceiveBufferSize() override;
    void SetReceiveBufferSize(const int& bytes) override;
    bool ReceiveDatagram(std::vector<uint8_t>& datagram, ReceiveInfo& info) override;
    // Any thread; datagrams queued before it may lack a stamp and get the time of reception.
    void SetArrivalDetails(bool wanted) override;
    // Wakes the receive through a pipe polled with the socket (not on Windows, where a wait
    // runs its time).
    void Interrupt() override;

private:
    using Socket = boost::asio::ip::udp::socket;
    struct Batch;

    std::shared_ptr<Socket> CurrentSocket();
    // Asks the system for arrival details on `current`, or no more. Needs socketMutex.
    void ApplyArrivalDetails(Socket& current, bool wanted);
    // Empties the batch and receives into it, waiting up to kReceiveWait; false when nothing
    // came, the socket is closed, or the receive failed.
    bool Refill();
    // One receive into the batch without waiting: what was queued, maybe nothing. False when
    // the receive failed otherwise (the socket was closed, for example).
    bool FillBatch(Socket& current);

    const std::string host;
    const uint16_t port;
    boost::asio::io_context ioContext;  // declared first so that it outlives the socket
    std::mutex socketMutex;             // guards the socket pointer, not the socket
    std::shared_ptr<Socket> socket;
    // Changes with each Open and Close, so that a receive can tell that the datagrams it holds
    // came from a socket closed since without looking at the socket.
    std::atomic<uint64_t> socketGeneration{0};  // written under socketMutex
    std::atomic<bool> arrivalDetails{false};    // written under socketMutex
    int wakeRead = -1;  // the pipe Interrupt writes into; -1 where there is none
    int wakeWrite = -1;
    std::mutex receiveMutex;       // serialises callers of Receive; guards the batch
    std::unique_ptr<Batch> batch;  // datagrams received and not yet handed out
};

}  // namespace Varkon::QUILApi::UdpStreaming::Transport

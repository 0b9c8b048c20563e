#include "udpstreaming/transport/UdpTransport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace Varkon::QUILApi::UdpStreaming::Transport {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;

namespace {

// Waits until the socket is readable, the wake pipe `wake` (-1: none) holds a byte, or the time
// is up; true when the socket is readable (or in error, so that the next receive reports it).
// Empties the pipe when it woke the wait. Without a socket (-1), waits for the pipe alone.
bool WaitReadable(asio::ip::udp::socket::native_handle_type handle, [[maybe_unused]] int wake,
                  Clock::duration timeout) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
#if defined(_WIN32)
    if (handle == INVALID_SOCKET) {
        std::this_thread::sleep_for(timeout);
        return false;
    }
    WSAPOLLFD entry{handle, POLLRDNORM, 0};
    return WSAPoll(&entry, 1, static_cast<INT>(ms)) > 0;
#else
    pollfd entries[2] = {{handle, POLLIN, 0}, {wake, POLLIN, 0}};
    const int ready = ::poll(entries, 2, static_cast<int>(ms));
    if (ready > 0 && entries[1].revents != 0) {
        char drained[64];
        while (::read(wake, drained, sizeof drained) > 0) {
        }
        return false;
    }
    return (ready > 0 && entries[0].revents != 0) || (ready < 0 && errno == EINTR);
#endif
}

constexpr auto kNoSocket = static_cast<asio::ip::udp::socket::native_handle_type>(-1);

int64_t SystemMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// Datagrams received together and handed out one by one, with what the system said of each.
struct UdpTransport::Batch {
    struct Entry {
        std::vector<uint8_t> bytes = std::vector<uint8_t>(kReceiveBufferSize);
        std::size_t size = 0;
        std::size_t wireSize = 0;
        bool truncated = false;
        uint32_t senderAddress = 0;
        uint16_t senderPort = 0;
        uint32_t receiverAddress = 0;
        int64_t arrivalMicroseconds = 0;
    };
    std::array<Entry, kBatch> entries;
    std::size_t count = 0;     // entries received
    std::size_t next = 0;      // the next to hand out
    uint64_t generation = 0;   // the socket they came from (socketGeneration)
    uint64_t kernelDrops = 0;  // the highest drop count the system reported
#if defined(__linux__)
    union Control {  // aligned for cmsghdr
        cmsghdr header;
        char space[CMSG_SPACE(sizeof(uint32_t)) + CMSG_SPACE(sizeof(timeval)) +
                   CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::array<iovec, kBatch> vectors{};
    std::array<sockaddr_in, kBatch> senders{};
    std::array<mmsghdr, kBatch> headers{};
    std::array<Control, kBatch> controls{};
#endif
};

#if defined(__linux__)
namespace {

// What the system said of a datagram besides its bytes: its drop count raises `kernelDrops`;
// its arrival time and the address it was sent to, when stamped, are stored.
void ReadControl(msghdr& header, uint64_t& kernelDrops, int64_t& arrivalMicroseconds,
                 uint32_t& receiverAddress) {
    for (cmsghdr* control = CMSG_FIRSTHDR(&header); control != nullptr;
         control = CMSG_NXTHDR(&header, control)) {
        if (control->cmsg_level == SOL_SOCKET && control->cmsg_type == SO_RXQ_OVFL) {
            uint32_t drops = 0;
            std::memcpy(&drops, CMSG_DATA(control), sizeof drops);
            kernelDrops = std::max<uint64_t>(kernelDrops, drops);
        } else if (control->cmsg_level == SOL_SOCKET && control->cmsg_type == SO_TIMESTAMP) {
            timeval arrival{};
            std::memcpy(&arrival, CMSG_DATA(control), sizeof arrival);
            arrivalMicroseconds = static_cast<int64_t>(arrival.tv_sec) * 1000000 + arrival.tv_usec;
        } else if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_PKTINFO) {
            in_pktinfo destination{};
            std::memcpy(&destination, CMSG_DATA(control), sizeof destination);
            receiverAddress = ntohl(destination.ipi_addr.s_addr);
        }
    }
}

}  // namespace
#endif

UdpTransport::UdpTransport(const std::string& host, const uint16_t& port)
    : host(host), port(port), batch(std::make_unique<Batch>()) {
#if !defined(_WIN32)
    int ends[2];
    if (::pipe(ends) == 0) {
        for (int end : ends) {
            ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
            ::fcntl(end, F_SETFD, FD_CLOEXEC);
        }
        wakeRead = ends[0];
        wakeWrite = ends[1];
    }
#endif
}

UdpTransport::~UdpTransport() {
    Close();
#if !defined(_WIN32)
    for (int end : {wakeRead, wakeWrite}) {
        if (end >= 0) {
            ::close(end);
        }
    }
#endif
}

void UdpTransport::Interrupt() {
#if !defined(_WIN32)
    const char wake = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const auto written = ::write(wakeWrite, &wake, 1);
#endif
}

std::string UdpTransport::GetHost() {
    return host;
}

uint16_t UdpTransport::GetPort() {
    return port;
}

bool UdpTransport::IsOpen() {
    auto current = CurrentSocket();
    return current && current->is_open();
}

void UdpTransport::Open() {
    std::lock_guard<std::mutex> lock(socketMutex);
    if (socket) {
        return;
    }
    try {
        auto created = std::make_shared<Socket>(
            ioContext, asio::ip::udp::endpoint(asio::ip::address_v4::any(), port));
        created->non_blocking(true);
#if !defined(_WIN32)
        // Programs the application starts must not hold the port after the stream closes.
        ::fcntl(created->native_handle(), F_SETFD, FD_CLOEXEC);
#endif
#if defined(__linux__)
        // Each datagram then tells how many the system dropped for want of buffer space.
        const int on = 1;
        ::setsockopt(created->native_handle(), SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
#endif
        ApplyArrivalDetails(*created, arrivalDetails);
        socket = std::move(created);
        socketGeneration.fetch_add(1, std::memory_order_relaxed);
    } catch (const boost::system::system_error& e) {
        throw std::runtime_error(std::string("UdpTransport::Open Error: ") + e.what());
    }
}

void UdpTransport::Close() {
    std::shared_ptr<Socket> closing;
    {
        std::lock_guard<std::mutex> lock(socketMutex);
        closing.swap(socket);
        socketGeneration.fetch_add(1, std::memory_order_relaxed);
    }
    if (closing && closing->is_open()) {
        boost::system::error_code ignored;
        closing->close(ignored);
    }
}

int UdpTransport::GetReceiveBufferSize() {
    auto current = CurrentSocket();
    if (!current) {
        throw boost::system::system_error(asio::error::bad_descriptor, "get_option");
    }
    asio::socket_base::receive_buffer_size option;
    current->get_option(option);
    return option.value();
}

void UdpTransport::SetReceiveBufferSize(const int& bytes) {
    auto current = CurrentSocket();
    if (!current) {
        throw boost::system::system_error(asio::error::bad_descriptor, "set_option");
    }
    current->set_option(asio::socket_base::receive_buffer_size(bytes));
}

void UdpTransport::SetArrivalDetails(bool wanted) {
    std::lock_guard<std::mutex> lock(socketMutex);
    arrivalDetails = wanted;
    if (socket) {
        ApplyArrivalDetails(*socket, wanted);
    }
}

void UdpTransport::ApplyArrivalDetails([[maybe_unused]] Socket& current,
                                       [[maybe_unused]] bool wanted) {
#if defined(__linux__)
    const int on = wanted ? 1 : 0;
    ::setsockopt(current.native_handle(), SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    ::setsockopt(current.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
#endif
}

bool UdpTransport::ReceiveDatagram(std::vector<uint8_t>& datagram, ReceiveInfo& info) {
    std::lock_guard<std::mutex> lock(receiveMutex);
    // Datagrams received before are handed out without a look at the socket or the clock,
    // unless their socket was closed since.
    if ((batch->next == batch->count ||
         batch->generation != socketGeneration.load(std::memory_order_relaxed)) &&
        !Refill()) {
        return false;
    }
    Batch::Entry& entry = batch->entries[batch->next++];
    // The caller's vector takes the bytes, and the entry its room for a later receive: nothing
    // is copied.
    entry.bytes.resize(entry.size);
    datagram.swap(entry.bytes);
    info.truncated = entry.truncated;
    info.kernelDrops = batch->kernelDrops;
    info.more = batch->next < batch->count;
    info.senderAddress = entry.senderAddress;
    info.senderPort = entry.senderPort;
    info.receiverAddress = entry.receiverAddress;
    info.arrivalMicroseconds = entry.arrivalMicroseconds;
    info.wireSize = entry.wireSize;
    return true;
}

bool UdpTransport::Refill() {
    std::shared_ptr<Socket> current;
    {
        std::lock_guard<std::mutex> lock(socketMutex);
        current = socket;
        batch->generation = socketGeneration.load(std::memory_order_relaxed);
    }
    batch->count = batch->next = 0;
    if (!current || !current->is_open()) {
        // Nothing can arrive; keep the caller's pace as if the wait had run out.
        WaitReadable(kNoSocket, wakeRead, kReceiveWait);
        return false;
    }
    std::optional<Clock::time_point> deadline;  // read only once a wait is needed
    while (batch->count == 0) {
        if (!FillBatch(*current)) {
            return false;
        }
        if (batch->count == 0) {
            const auto now = Clock::now();
            if (!deadline) {
                deadline = now + kReceiveWait;
            }
            if (now >= *deadline ||
                !WaitReadable(current->native_handle(), wakeRead, *deadline - now)) {
                return false;
            }
        }
    }
    return true;
}

bool UdpTransport::FillBatch(Socket& current) {
    batch->count = batch->next = 0;
#if defined(__linux__)
    for (std::size_t i = 0; i < kBatch; ++i) {
        batch->entries[i].bytes.resize(kReceiveBufferSize);
        batch->vectors[i] = iovec{batch->entries[i].bytes.data(), kReceiveBufferSize};
        msghdr& header = batch->headers[i].msg_hdr;
        header = msghdr{};
        header.msg_name = &batch->senders[i];
        header.msg_namelen = sizeof batch->senders[i];
        header.msg_iov = &batch->vectors[i];
        header.msg_iovlen = 1;
        header.msg_control = batch->controls[i].space;
        header.msg_controllen = sizeof batch->controls[i].space;
    }
    // MSG_TRUNC makes the length of each datagram the one it was sent with.
    const int received =
        ::recvmmsg(current.native_handle(), batch->headers.data(), static_cast<unsigned>(kBatch),
                   MSG_DONTWAIT | MSG_TRUNC, nullptr);
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    // The drop count only grows, so without arrival details the batch's last datagram is the
    // only one whose control data is read.
    const bool details = arrivalDetails.load(std::memory_order_relaxed);
    for (int i = 0; i < received; ++i) {
        msghdr& header = batch->headers[i].msg_hdr;
        Batch::Entry& entry = batch->entries[i];
        entry.wireSize = batch->headers[i].msg_len;
        entry.size = std::min(entry.wireSize, kReceiveBufferSize);
        entry.truncated = (header.msg_flags & MSG_TRUNC) != 0;
        entry.senderAddress = ntohl(batch->senders[i].sin_addr.s_addr);
        entry.senderPort = ntohs(batch->senders[i].sin_port);
        entry.receiverAddress = 0;
        entry.arrivalMicroseconds = 0;
        if (details || i + 1 == received) {
            ReadControl(header, batch->kernelDrops, entry.arrivalMicroseconds,
                        entry.receiverAddress);
        }
        if (details && entry.arrivalMicroseconds == 0) {
            entry.arrivalMicroseconds = SystemMicroseconds();
        }
    }
    batch->count = static_cast<std::size_t>(received);
    return true;
#else
    Batch::Entry& entry = batch->entries[0];
    entry.bytes.resize(kReceiveBufferSize);
    asio::ip::udp::endpoint sender;
    boost::system::error_code error;
    const std::size_t size = current.receive_from(
        asio::buffer(entry.bytes.data(), kReceiveBufferSize), sender, 0, error);
    if (error == asio::error::would_block) {
        return true;
    }
    if (error && error != asio::error::message_size) {
        return false;
    }
    // Where the system reports truncation as an error, the buffer holds the first bytes.
    entry.truncated = error == asio::error::message_size;
    entry.size = entry.truncated ? kReceiveBufferSize : size;
    entry.wireSize = entry.size;
    entry.senderAddress = sender.address().is_v4() ? sender.address().to_v4().to_uint() : 0;
    entry.senderPort = sender.port();
    entry.arrivalMicroseconds =
        arrivalDetails.load(std::memory_order_relaxed) ? SystemMicroseconds() : 0;
    batch->count = 1;
    return true;
#endif
}

std::shared_ptr<UdpTransport::Socket> UdpTransport::CurrentSocket() {
    std::lock_guard<std::mutex> lock(socketMutex);
    return socket;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Transport

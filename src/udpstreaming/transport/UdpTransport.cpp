#include "udpstreaming/transport/UdpTransport.h"

#include <stdexcept>
#include <thread>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <poll.h>
#include <cerrno>
#endif

namespace Varkon::QUILApi::UdpStreaming::Transport {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;

namespace {

// Waits until the socket is readable or the time is up; true when readable (or in error, so
// that the next receive reports it).
bool WaitReadable(asio::ip::udp::socket::native_handle_type handle, Clock::duration timeout) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
#if defined(_WIN32)
    WSAPOLLFD entry{handle, POLLRDNORM, 0};
    return WSAPoll(&entry, 1, static_cast<INT>(ms)) > 0;
#else
    pollfd entry{handle, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(ms));
    return ready > 0 || (ready < 0 && errno == EINTR);
#endif
}

}  // namespace

UdpTransport::UdpTransport(const std::string& host, const uint16_t& port)
    : host(host), port(port) {}

UdpTransport::~UdpTransport() {
    Close();
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
        socket = std::move(created);
    } catch (const boost::system::system_error& e) {
        throw std::runtime_error(std::string("UdpTransport::Open Error: ") + e.what());
    }
}

void UdpTransport::Close() {
    std::shared_ptr<Socket> closing;
    {
        std::lock_guard<std::mutex> lock(socketMutex);
        closing.swap(socket);
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

std::vector<uint8_t> UdpTransport::Receive() {
    std::vector<uint8_t> datagram;
    if (!ReceiveInto(datagram)) {
        datagram.clear();
    }
    return datagram;
}

bool UdpTransport::ReceiveInto(std::vector<uint8_t>& datagram) {
    std::lock_guard<std::mutex> lock(receiveMutex);
    const auto deadline = Clock::now() + kReceiveWait;
    auto current = CurrentSocket();
    if (!current || !current->is_open()) {
        // Nothing can arrive; keep the caller's pace as if the wait had run out.
        std::this_thread::sleep_until(deadline);
        return false;
    }
    datagram.resize(kReceiveBufferSize);
    for (;;) {
        boost::system::error_code error;
        std::size_t size = current->receive_from(asio::buffer(datagram.data(), kReceiveBufferSize),
                                                 sender, 0, error);
        if (!error || error == asio::error::message_size) {
            // Where the system reports truncation as an error, the buffer holds the first bytes.
            datagram.resize(error ? kReceiveBufferSize : size);
            return true;
        }
        if (error != asio::error::would_block) {
            return false;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero() || !WaitReadable(current->native_handle(), left)) {
            return false;
        }
    }
}

std::shared_ptr<UdpTransport::Socket> UdpTransport::CurrentSocket() {
    std::lock_guard<std::mutex> lock(socketMutex);
    return socket;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Transport

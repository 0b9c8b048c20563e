#include <quil/ConnectionProbe.h>
#include <quil/SensorAddress.h>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace Varkon::QUILApi {
namespace {

// The outcome of one non-blocking connection attempt: 0 when it opened, else its errno
// (ETIMEDOUT after `limit`).
int TryConnect(const addrinfo& address, std::chrono::milliseconds limit) {
    const int socket = ::socket(
        address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (socket < 0) {
        return errno;
    }
    int error = 0;
    if (connect(socket, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd waiting{socket, POLLOUT, 0};
            const int ready = poll(&waiting, 1, static_cast<int>(limit.count()));
            socklen_t size = sizeof error;
            if (ready <= 0) {
                error = ETIMEDOUT;
            } else if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                error = errno;
            }
        }
    }
    close(socket);
    return error;
}

std::string Why(int error) {
    switch (error) {
        case 0:
            return "the connection opened, but no sensor answered on it (is this the sensor's "
                   "address and port?)";
        case ECONNREFUSED:
            return "connection refused (nothing accepts connections there; check the address "
                   "and the port)";
        case EHOSTUNREACH:
        case ENETUNREACH:
            return "no route to that address";
        case ETIMEDOUT:
            return "timed out (nothing answered)";
        default:
            return std::string(strerror(error));
    }
}

}  // namespace

std::string WhyNoConnection(const std::string& address, std::chrono::milliseconds limit) {
    const auto sensor = SplitSensorAddress(address);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(sensor.host.c_str(), sensor.port.c_str(), &hints, &found);
    if (lookup != 0 || found == nullptr) {
        return lookup == EAI_NONAME || lookup == EAI_NODATA || lookup == EAI_FAIL
                   ? "name not found"
                   : std::string(gai_strerror(lookup));
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, freeaddrinfo);
    return Why(TryConnect(*found, limit));
}

}  // namespace Varkon::QUILApi

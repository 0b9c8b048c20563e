// One HTTP request to the gateway's port on 127.0.0.1, answered whole.
#pragma once

#include "support/TcpConnect.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace Varkon::QuilGateway::Testing {

/// The whole answer (status line, headers and body) to `method` `target`; empty when nothing
/// listens. Bounded: the answer must come within five seconds.
inline std::string HttpRequest(uint16_t port, const std::string& method,
                               const std::string& target) {
    const int fd = Varkon::QUILApi::Testing::TcpConnect("127.0.0.1", port);
    std::string answer;
    if (fd >= 0) {
        const std::string request = method + " " + target +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n"
                                    "Connection: close\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t size;
        while ((size = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(size));
        }
        close(fd);
    }
    return answer;
}

inline std::string HttpGet(uint16_t port, const std::string& target) {
    return HttpRequest(port, "GET", target);
}

/// The value of the Prometheus sample `name` (with its labels, as written) in `text`, or -1.
inline double MetricValue(const std::string& text, const std::string& name) {
    const auto at = text.find("\n" + name + " ");
    return at == std::string::npos ? -1.0 : std::stod(text.substr(at + name.size() + 2));
}

}  // namespace Varkon::QuilGateway::Testing

// One HTTP request to the gateway's port on 127.0.0.1, answered whole.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace Varkon::QuilGateway::Testing {

/// The whole answer (status line, headers and body) to `method` `target`; empty when nothing
/// listens. Bounded: the answer must come within five seconds.
inline std::string HttpRequest(uint16_t port, const std::string& method,
                               const std::string& target) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const std::string request = method + " " + target +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n"
                                    "Connection: close\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t size;
        while ((size = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(size));
        }
    }
    close(fd);
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

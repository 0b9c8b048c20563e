// Health and metrics over HTTP on 127.0.0.1: /healthz (the process runs), /readyz (the broker is
// connected and every sensor streams), /metrics (Prometheus text format); and a POST of
// /blackbox/<sensor>?name=<name> keeps the sensor's black box as a named recording.
#pragma once

#include "BlackBox.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace Varkon::QuilGateway {

class HealthServer {
public:
    struct Sources {
        std::function<bool()> ready;
        std::function<std::string()> metrics;
        std::function<KeepAnswer(const std::string& sensor, const std::string& name)> keep;
    };

    /// Listens at once on 127.0.0.1:`port`.
    /// @throws std::runtime_error "cannot listen on 127.0.0.1:<port>: <reason>".
    HealthServer(uint16_t port, Sources sources);
    ~HealthServer();
    HealthServer(const HealthServer&) = delete;
    HealthServer& operator=(const HealthServer&) = delete;

private:
    void Accept();
    void Answer(boost::asio::ip::tcp::socket& socket);

    Sources sources;
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor;
    std::thread thread;
};

}  // namespace Varkon::QuilGateway

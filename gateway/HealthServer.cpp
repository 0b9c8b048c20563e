#include "HealthServer.h"

#include <boost/asio/ip/address.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <sys/socket.h>
#include <sys/time.h>

#include <stdexcept>
#include <string_view>

namespace Varkon::QuilGateway {

namespace http = boost::beast::http;
using boost::asio::ip::tcp;

namespace {

constexpr std::string_view kBlackBoxPrefix = "/blackbox/";

http::status StatusOf(KeepAnswer::Outcome outcome) {
    switch (outcome) {
        case KeepAnswer::Outcome::Kept:
            return http::status::ok;
        case KeepAnswer::Outcome::WrongName:
            return http::status::bad_request;
        case KeepAnswer::Outcome::NoBlackBox:
            return http::status::not_found;
        case KeepAnswer::Outcome::NameTaken:
        case KeepAnswer::Outcome::NothingRecorded:
            return http::status::conflict;
        case KeepAnswer::Outcome::Failed:
            break;
    }
    return http::status::internal_server_error;
}

// POST /blackbox/<sensor>?name=<name>; the name's characters need no decoding, and one that
// does is refused as a name.
KeepAnswer KeepFromTarget(std::string_view target, const HealthServer::Sources& sources) {
    target.remove_prefix(kBlackBoxPrefix.size());
    const auto query = target.find("?name=");
    if (query == std::string_view::npos) {
        return {KeepAnswer::Outcome::WrongName, "expected ?name=<name of the recording>"};
    }
    return sources.keep(std::string(target.substr(0, query)),
                        std::string(target.substr(query + 6)));
}

}  // namespace

HealthServer::HealthServer(uint16_t port, Sources sources)
    : sources(std::move(sources)), acceptor(io) {
    const tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), port);
    boost::system::error_code error;
    acceptor.open(endpoint.protocol(), error);
    if (!error) {
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    }
    if (!error) {
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(16, error);
    }
    if (error) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                 error.message());
    }
    Accept();
    thread = std::thread([this] { io.run(); });
}

HealthServer::~HealthServer() {
    io.stop();
    if (thread.joinable()) {
        thread.join();
    }
}

void HealthServer::Accept() {
    acceptor.async_accept([this](boost::system::error_code error, tcp::socket socket) {
        if (!error) {
            Answer(socket);
        }
        Accept();
    });
}

// One request per connection, answered at once; a client that sends nothing is given up after
// a second, so that it cannot hold the server.
void HealthServer::Answer(tcp::socket& socket) {
    timeval limit{1, 0};
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    boost::beast::flat_buffer buffer;
    http::request<http::string_body> request;
    boost::system::error_code error;
    http::read(socket, buffer, request, error);
    if (error) {
        return;
    }
    http::response<http::string_body> response;
    response.version(request.version());
    response.keep_alive(false);
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    const std::string_view target(request.target().data(), request.target().size());
    const bool keep = target.substr(0, kBlackBoxPrefix.size()) == kBlackBoxPrefix;
    if (keep && request.method() == http::verb::post && sources.keep) {
        const KeepAnswer answer = KeepFromTarget(target, sources);
        response.result(StatusOf(answer.outcome));
        response.body() = answer.text + "\n";
    } else if (request.method() != (keep ? http::verb::post : http::verb::get)) {
        response.result(http::status::method_not_allowed);
        response.body() = keep ? "only POST\n" : "only GET\n";
    } else if (target == "/healthz") {
        response.result(http::status::ok);
        response.body() = "ok\n";
    } else if (target == "/readyz") {
        const bool ready = sources.ready();
        response.result(ready ? http::status::ok : http::status::service_unavailable);
        response.body() = ready ? "ready\n" : "not ready\n";
    } else if (target == "/metrics") {
        response.result(http::status::ok);
        response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
        response.body() = sources.metrics();
    } else {
        response.result(http::status::not_found);
        response.body() = "not found\n";
    }
    response.prepare_payload();
    http::write(socket, response, error);
    socket.shutdown(tcp::socket::shutdown_both, error);
}

}  // namespace Varkon::QuilGateway

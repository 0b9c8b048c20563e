#include "api/LocalAddresses.h"

#include <stdexcept>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace Varkon::QUILApi {

namespace asio = boost::asio;

std::string LocalAddressTowards(const std::string& host) {
    asio::io_context context;
    boost::system::error_code error;
    asio::ip::udp::resolver resolver(context);
    const auto found = resolver.resolve(asio::ip::udp::v4(), host, "80", error);
    if (error || found.empty()) {
        throw std::runtime_error("No route to " + host + ": " +
                                 (error ? error.message() : "the name has no IPv4 address"));
    }
    asio::ip::udp::socket socket(context);
    socket.open(asio::ip::udp::v4(), error);
    if (!error) {
        socket.connect(found.begin()->endpoint(), error);
    }
    asio::ip::udp::endpoint local;
    if (!error) {
        local = socket.local_endpoint(error);
    }
    if (error) {
        throw std::runtime_error("No route to " + host + ": " + error.message());
    }
    return local.address().to_string();
}

bool IsLocalAddress(const std::string& address) {
    boost::system::error_code error;
    const auto parsed = asio::ip::make_address_v4(address, error);
    if (error || parsed.is_unspecified() || parsed.is_multicast()) {
        return false;
    }
    asio::io_context context;
    asio::ip::udp::socket socket(context);
    socket.open(asio::ip::udp::v4(), error);
    if (!error) {
        socket.bind(asio::ip::udp::endpoint(parsed, 0), error);
    }
    return !error;
}

}  // namespace Varkon::QUILApi

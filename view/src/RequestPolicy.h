#pragma once

// Which requests the view answers. A web page the operator happens to open elsewhere must not
// read the sensors or change anything here: a request must name this server as the browser
// reached it (no DNS rebinding), a WebSocket must come from the view's own page, and a request
// that changes state must not be one a foreign page can send (a form, or a fetch of another
// origin). Programs such as curl or a metrics scraper send no Origin and keep working.

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Varkon::QUILApi::View {

struct Refusal {
    unsigned status;
    std::string text;
};

class RequestPolicy {
public:
    /// `hosts`: names besides IP addresses and "localhost" under which the server is reached
    /// ("*" for any); `origins`: pages of other sites that may use it ("https://dash.plant").
    RequestPolicy(uint16_t port, std::vector<std::string> hosts, std::vector<std::string> origins);

    /// Why `request` is refused, or nothing when it may be answered.
    std::optional<Refusal> Check(
        const boost::beast::http::request<boost::beast::http::string_body>& request) const;

    /// Whether `host`, a Host header's value, names this server.
    bool HostAllowed(std::string_view host) const;
    /// Whether a page of `origin` may use the server reached as `host`.
    bool OriginAllowed(std::string_view origin, std::string_view host) const;

private:
    uint16_t port;
    std::vector<std::string> hosts;
    std::vector<std::string> origins;
};

}  // namespace Varkon::QUILApi::View

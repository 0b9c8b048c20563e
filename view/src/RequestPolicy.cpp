#include "RequestPolicy.h"

#include <boost/asio/ip/address.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <algorithm>

namespace Varkon::QUILApi::View {

namespace http = boost::beast::http;

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return boost::beast::iequals(boost::beast::string_view(a.data(), a.size()),
                                 boost::beast::string_view(b.data(), b.size()));
}

std::string_view Text(boost::beast::string_view value) {
    return {value.data(), value.size()};
}

bool IsIpAddress(std::string_view name) {
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    } else if (name.find(':') != std::string_view::npos) {
        return false;
    }
    boost::system::error_code error;
    boost::asio::ip::make_address(std::string(name), error);
    return !error;
}

// "name:port", "[v6]:port" or "name" into its name and port (0 when none); false when
// malformed. Browsers name every port but 80; other clients often name none.
bool SplitHost(std::string_view host, std::string_view& name, unsigned& port) {
    const auto colon = host.rfind(':');
    const bool hasPort =
        colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos;
    name = hasPort ? host.substr(0, colon) : host;
    port = 0;
    if (hasPort) {
        const std::string_view digits = host.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        port = static_cast<unsigned>(std::stoul(std::string(digits)));
    }
    return !name.empty();
}

// What a browser sends when a form or another site's script made the request.
bool FormContentType(std::string_view type) {
    const std::string_view essence = type.substr(0, type.find(';'));
    for (const std::string_view form :
         {"application/x-www-form-urlencoded", "multipart/form-data", "text/plain"}) {
        if (SameText(essence.substr(0, form.size()), form) &&
            essence.find_first_not_of(' ', form.size()) == std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

RequestPolicy::RequestPolicy(uint16_t port, std::vector<std::string> hosts,
                             std::vector<std::string> origins)
    : port(port), hosts(std::move(hosts)), origins(std::move(origins)) {}

bool RequestPolicy::HostAllowed(std::string_view host) const {
    std::string_view name;
    unsigned hostPort = 0;
    if (!SplitHost(host, name, hostPort)) {
        return false;
    }
    const bool named = IsIpAddress(name) || SameText(name, "localhost") ||
                       std::any_of(hosts.begin(), hosts.end(), [name](const std::string& allowed) {
                           return allowed == "*" || SameText(allowed, name);
                       });
    return named && (hostPort == 0 || hostPort == port);
}

bool RequestPolicy::OriginAllowed(std::string_view origin, std::string_view host) const {
    constexpr std::string_view kScheme = "http://";
    if (SameText(origin.substr(0, kScheme.size()), kScheme) &&
        SameText(origin.substr(kScheme.size()), host)) {
        return true;
    }
    return std::any_of(origins.begin(), origins.end(),
                       [origin](const std::string& allowed) { return SameText(allowed, origin); });
}

std::optional<Refusal> RequestPolicy::Check(const http::request<http::string_body>& request) const {
    const auto host = request.find(http::field::host);
    if (host != request.end() && !HostAllowed(Text(host->value()))) {
        return Refusal{421,
                       "This server is not reached under that name; its allowed host names "
                       "say under which.\n"};
    }
    const bool changesState =
        boost::beast::websocket::is_upgrade(request) ||
        (request.method() != http::verb::get && request.method() != http::verb::head);
    if (!changesState) {
        return std::nullopt;
    }
    const auto origin = request.find(http::field::origin);
    const auto site = request.find("Sec-Fetch-Site");
    const bool foreignOrigin =
        origin != request.end() &&
        !OriginAllowed(Text(origin->value()),
                       host == request.end() ? std::string_view() : Text(host->value()));
    const bool foreignSite = site != request.end() && SameText(Text(site->value()), "cross-site") &&
                             origin == request.end();
    const auto type = request.find(http::field::content_type);
    const bool form = !boost::beast::websocket::is_upgrade(request) && type != request.end() &&
                      FormContentType(Text(type->value()));
    if (foreignOrigin || foreignSite || form) {
        return Refusal{403, "A page of another site may not use this server.\n"};
    }
    return std::nullopt;
}

}  // namespace Varkon::QUILApi::View

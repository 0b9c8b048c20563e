// What browsers and scanners send the view: the first byte chooses between a page's message
// (as the WebSocket delivers it) and an HTTP request's bytes through the request parser and the
// server's request policy. Invariants: nothing throws, and only a request the policy lets
// through may open a WebSocket or change state.
#include "PageMessage.h"
#include "RequestPolicy.h"

#include <boost/beast/http/parser.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

namespace http = boost::beast::http;
using namespace Varkon::QUILApi::View;

void CheckRequest(const std::string& bytes) {
    http::request_parser<http::string_body> parser;
    parser.eager(true);
    parser.header_limit(16 * 1024);
    parser.body_limit(16 * 1024);
    boost::beast::error_code error;
    parser.put(boost::asio::buffer(bytes), error);
    if (error || !parser.is_header_done()) {
        return;
    }
    const RequestPolicy policy(8080, {"line-pc"}, {"https://dash.plant"});
    const auto& request = parser.get();
    const auto refusal = policy.Check(request);
    const auto origin = request.find(http::field::origin);
    const bool foreign = origin != request.end() && origin->value() == "http://evil.example";
    const bool changes =
        boost::beast::websocket::is_upgrade(request) ||
        (request.method() != http::verb::get && request.method() != http::verb::head);
    if (!refusal && foreign && changes) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        CheckRequest(rest);
    } else {
        const PageMessage message = ReadPageMessage(rest);
        if (message.kind == PageMessage::Kind::NotUnderstood && message.sensor != 0) {
            std::abort();
        }
    }
    return 0;
}

// The factory: builds the client's object graph.
#include "api/QuilApi.h"
#include "websockets/VarkonWebsocketApi.h"

namespace Varkon::QUILApi {

Quil::~Quil() = default;

std::unique_ptr<Quil> Quil::Create(const std::string& host, const unsigned short& port) {
    (void)port;  // the UDP stream's port; used once the stream exists
    auto channel = std::make_shared<WebSockets::VarkonWebsocketApi>(host);
    auto protocol = std::make_unique<WebSockets::Protocol>(std::move(channel));
    return std::make_unique<QuilApi>(std::move(protocol));
}

}  // namespace Varkon::QUILApi

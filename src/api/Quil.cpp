// The factory: builds the client's object graph.
#include "api/QuilApi.h"
#include "udpstreaming/transport/UdpTransport.h"
#include "websockets/VarkonWebsocketApi.h"

#include <quil/SensorAddress.h>

namespace Varkon::QUILApi {

Quil::~Quil() = default;

std::unique_ptr<Quil> Quil::Create(const std::string& host, const unsigned short& port) {
    auto channel = std::make_shared<WebSockets::VarkonWebsocketApi>(host);
    auto protocol = std::make_unique<WebSockets::Protocol>(std::move(channel));
    auto transport = std::make_shared<UdpStreaming::Transport::UdpTransport>(
        SplitSensorAddress(host).host, port);
    return std::make_unique<QuilApi>(std::move(protocol), std::move(transport));
}

}  // namespace Varkon::QUILApi

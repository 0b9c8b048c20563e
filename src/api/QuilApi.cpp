#include "api/QuilApi.h"

namespace Varkon::QUILApi {

QuilApi::QuilApi(std::unique_ptr<WebSockets::Protocol> protocol,
                 std::shared_ptr<UdpStreaming::Transport::IUdpTransport> transport)
    : protocol(std::move(protocol)), transport(std::move(transport)) {}

QuilApi::~QuilApi() {
    // The stream and the transport go first; the application may still hold the stream.
    stream.reset();
    transport.reset();
}

std::shared_ptr<UdpStreaming::QuilStream> QuilApi::GetStream() {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!stream) {
        stream = std::make_shared<UdpStreaming::QuilStreamApi>(transport);
    }
    return stream;
}

void QuilApi::CheckField(const nlohmann::json& data, const std::string& key) const {
    ResourceFrame::CheckField(data, key);
}

std::unique_ptr<nlohmann::json> QuilApi::ReadData(const std::string& resource,
                                                  const nlohmann::json& param) {
    auto data = protocol->GetResource(resource, param);
    ResourceFrame::CheckNotEmpty(*data);
    return data;
}

void QuilApi::Write(const std::string& resource, const nlohmann::json& value) {
    protocol->SetResource(resource, value);
}

}  // namespace Varkon::QUILApi

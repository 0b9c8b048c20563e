#include "api/QuilApi.h"

namespace Varkon::QUILApi {

QuilApi::QuilApi(std::unique_ptr<WebSockets::Protocol> protocol) : protocol(std::move(protocol)) {}

QuilApi::~QuilApi() = default;

void QuilApi::CheckField(const nlohmann::json& data, const std::string& key) const {
    Frame::CheckField(data, key);
}

std::unique_ptr<nlohmann::json> QuilApi::ReadData(const std::string& resource,
                                                  const nlohmann::json& param) {
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    auto data = protocol->GetResource(resource, param);
    Frame::CheckNotEmpty(*data);
    return data;
}

void QuilApi::Write(const std::string& resource, const nlohmann::json& value) {
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    protocol->SetResource(resource, value);
}

}  // namespace Varkon::QUILApi

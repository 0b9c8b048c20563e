#pragma once

#include "api/ResourceFrame.h"
#include "udpstreaming/QuilStreamApi.h"
#include "udpstreaming/transport/IUdpTransport.h"
#include "websockets/Protocol.h"

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>
#include <string>

namespace Varkon::QUILApi {

/// The client: every operation reads or writes sensor resources through the frame below.
///
/// Requests are serialised by `requestMutex`, so that callers on several threads each receive
/// their own reply. It is recursive so that an operation made of several requests can hold it
/// for the whole conversation.
class QuilApi : public Quil {
public:
    QuilApi(std::unique_ptr<WebSockets::Protocol> protocol,
            std::shared_ptr<UdpStreaming::Transport::IUdpTransport> transport);
    ~QuilApi() override;

    std::shared_ptr<UdpStreaming::QuilStream> GetStream() override;

    void Connect() override;
    void Disconnect() override;
    void Login(const std::string& role, const std::string& password) override;
    void Logout() override;

    SensorMetaData GetSensorMetaData() override;

    /// @throws std::out_of_range "Field <key> missing in response."
    void CheckField(const nlohmann::json& data, const std::string& key) const;

private:
    /// GET of `resource`; the data is never empty.
    /// @throws std::invalid_argument "No response received (is null)."
    std::unique_ptr<nlohmann::json> ReadData(const std::string& resource,
                                             const nlohmann::json& param = nullptr);

    /// Reads a whole record (one with a Frame::Schema).
    template <class Record>
    Record Read(const std::string& resource, const nlohmann::json& param = nullptr) {
        return ReadData(resource, param)->template get<Record>();
    }

    /// Reads the single field `key` of `resource`.
    template <class T>
    T ReadField(const std::string& resource, const std::string& key,
                const nlohmann::json& param = nullptr) {
        const auto data = ReadData(resource, param);
        CheckField(*data, key);
        return data->at(key).template get<T>();
    }

    /// SET of `resource`; `value` is an object, or null for a write without arguments.
    void Write(const std::string& resource, const nlohmann::json& value);

    std::unique_ptr<WebSockets::Protocol> protocol;
    std::shared_ptr<UdpStreaming::Transport::IUdpTransport> transport;
    std::shared_ptr<UdpStreaming::QuilStreamApi> stream;
    std::mutex streamMutex;
    std::recursive_mutex requestMutex;
};

}  // namespace Varkon::QUILApi

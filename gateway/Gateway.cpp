#include "Gateway.h"

namespace Varkon::QuilGateway {

Gateway::Gateway(const Configuration& configuration, SensorTiming timing,
                 MqttPublisher::Backoff backoff) {
    for (const SensorSettings& sensor : configuration.sensors) {
        sensors.push_back(std::make_unique<SensorWorker>(sensor, configuration.groupId,
                                                         configuration.nodeId, queue, timing));
    }
    publisher = std::make_unique<MqttPublisher>(
        configuration.broker, configuration.groupId, configuration.nodeId, queue,
        [this] {
            std::vector<DeviceBirth> births;
            for (const auto& sensor : sensors) {
                if (auto birth = sensor->Birth()) {
                    births.push_back(std::move(*birth));
                }
            }
            return births;
        },
        backoff);
}

Gateway::~Gateway() {
    Stop();
}

void Gateway::Start() {
    publisher->Start();
    for (const auto& sensor : sensors) {
        sensor->Start();
    }
}

void Gateway::Stop() {
    for (const auto& sensor : sensors) {
        sensor->Stop();
    }
    publisher->Stop();
}

}  // namespace Varkon::QuilGateway

#include "Gateway.h"

#include "PrometheusText.h"

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

std::string Gateway::Status() const {
    std::size_t streaming = 0;
    for (const auto& sensor : sensors) {
        streaming += sensor->Streaming() ? 1 : 0;
    }
    return std::to_string(streaming) + " of " + std::to_string(sensors.size()) +
           " sensors streaming; broker " + (publisher->Connected() ? "connected" : "not connected");
}

bool Gateway::Ready() const {
    bool ready = publisher->Connected();
    for (const auto& sensor : sensors) {
        ready = ready && sensor->Streaming();
    }
    return ready;
}

std::string Gateway::MetricsText() const {
    GatewayFigures figures;
    for (const auto& sensor : sensors) {
        figures.sensors.emplace_back(sensor->Name(), sensor->Snapshot());
    }
    figures.brokerConnected = publisher->Connected();
    figures.publishDropped = queue.Dropped();
    return PrometheusText(figures);
}

void Gateway::Stop() {
    for (const auto& sensor : sensors) {
        sensor->Stop();
    }
    publisher->Stop();
}

}  // namespace Varkon::QuilGateway

#include "Gateway.h"

#include "HealthRoutes.h"
#include "Log.h"
#include "PrometheusText.h"

#include <algorithm>

namespace Varkon::QuilGateway {

Gateway::Gateway(const Configuration& configuration, SensorTiming timing,
                 MqttPublisher::Backoff backoff)
    : groupId(configuration.groupId),
      nodeId(configuration.nodeId),
      stateFolder(configuration.stateFolder),
      timing(timing),
      queue(configuration.publishQueue) {
    publisher = std::make_unique<MqttPublisher>(
        configuration.broker, configuration.groupId, configuration.nodeId, queue,
        [this] {
            const std::lock_guard<std::mutex> lock(sensorsMutex);
            std::vector<DeviceBirth> births;
            for (const auto& sensor : sensors) {
                if (auto birth = sensor->Birth()) {
                    births.push_back(std::move(*birth));
                }
            }
            return births;
        },
        backoff);
    publisher->OnKeepBlackBox([this](const std::string& sensor, const std::string& name) {
        return KeepBlackBox(sensor, name);
    });
    if (configuration.httpPort != 0) {
        Varkon::QUILApi::View::ViewOptions options;
        options.address = configuration.httpAddress;
        options.port = configuration.httpPort;
        options.allowedHosts = configuration.httpAllowedHosts;
        options.allowedOrigins = configuration.httpAllowedOrigins;
        options.maxConnections = configuration.httpMaxConnections;
        options.otherRequests =
            [sources = HealthSources{[this] { return Ready(); }, [this] { return MetricsText(); },
                                     [this](const std::string& sensor, const std::string& name) {
                                         return KeepBlackBox(sensor, name);
                                     }}](const std::string& method, const std::string& target) {
                return std::optional(AnswerHealthRequest(sources, method, target));
            };
        auto server = std::make_unique<Varkon::QUILApi::View::ViewServer>(
            std::move(options), std::vector<Varkon::QUILApi::View::SensorFeed>{});
        // It answers /metrics from now on, which reads `http` and the sensors.
        const std::lock_guard<std::mutex> lock(sensorsMutex);
        http = std::move(server);
    }
    const std::lock_guard<std::mutex> lock(sensorsMutex);
    for (const SensorSettings& sensor : configuration.sensors) {
        sensors.push_back(MakeWorker(sensor));
    }
}

Gateway::~Gateway() {
    Stop();
}

std::unique_ptr<SensorWorker> Gateway::MakeWorker(const SensorSettings& sensor) {
    return std::make_unique<SensorWorker>(sensor, groupId, nodeId, queue, timing, http.get(),
                                          stateFolder);
}

void Gateway::Start() {
    publisher->Start();
    const std::lock_guard<std::mutex> lock(sensorsMutex);
    for (const auto& sensor : sensors) {
        sensor->Start();
    }
}

std::string Gateway::Reload(const Configuration& next) {
    const auto find = [](const std::vector<SensorSettings>& list, const std::string& name) {
        return std::find_if(list.begin(), list.end(),
                            [&](const SensorSettings& s) { return s.name == name; });
    };
    std::vector<std::unique_ptr<SensorWorker>> leaving;
    std::size_t added = next.sensors.size();
    std::size_t removed = 0;
    std::size_t changed = 0;
    {
        const std::lock_guard<std::mutex> lock(sensorsMutex);
        for (auto it = sensors.begin(); it != sensors.end();) {
            const auto now = find(next.sensors, (*it)->Name());
            added -= now == next.sensors.end() ? 0 : 1;
            if (now == next.sensors.end() || *now != (*it)->Settings()) {
                ++(now == next.sensors.end() ? removed : changed);
                leaving.push_back(std::move(*it));
                it = sensors.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Stopped before the new ones start, which may take over their UDP ports.
    leaving.clear();
    const std::lock_guard<std::mutex> lock(sensorsMutex);
    for (const SensorSettings& sensor : next.sensors) {
        const bool running = std::any_of(sensors.begin(), sensors.end(), [&](const auto& worker) {
            return worker->Name() == sensor.name;
        });
        if (!running) {
            sensors.push_back(MakeWorker(sensor));
            sensors.back()->Start();
        }
    }
    return std::to_string(added) + " added, " + std::to_string(removed) + " removed, " +
           std::to_string(changed) + " changed";
}

KeepAnswer Gateway::KeepBlackBox(const std::string& sensor, const std::string& name) {
    std::shared_ptr<BlackBox> box;
    {
        const std::lock_guard<std::mutex> lock(sensorsMutex);
        const auto worker = std::find_if(sensors.begin(), sensors.end(),
                                         [&](const auto& w) { return w->Name() == sensor; });
        if (worker == sensors.end()) {
            return {KeepAnswer::Outcome::NoBlackBox, "there is no sensor " + Quoted(sensor)};
        }
        box = (*worker)->SharedBlackBox();
        if (!box) {
            return {KeepAnswer::Outcome::NoBlackBox, "sensor " + sensor + " has no black box"};
        }
    }
    // Outside the lock: births and /metrics go on while the files are made.
    return box->Keep(name);
}

std::string Gateway::Status() const {
    const std::lock_guard<std::mutex> lock(sensorsMutex);
    std::size_t streaming = 0;
    for (const auto& sensor : sensors) {
        streaming += sensor->Streaming() ? 1 : 0;
    }
    return std::to_string(streaming) + " of " + std::to_string(sensors.size()) +
           " sensors streaming; broker " + (publisher->Connected() ? "connected" : "not connected");
}

bool Gateway::Ready() const {
    const std::lock_guard<std::mutex> lock(sensorsMutex);
    bool ready = publisher->Connected();
    for (const auto& sensor : sensors) {
        ready = ready && sensor->Streaming();
    }
    return ready;
}

std::string Gateway::MetricsText() const {
    GatewayFigures figures;
    const std::lock_guard<std::mutex> lock(sensorsMutex);
    for (const auto& sensor : sensors) {
        figures.sensors.emplace_back(sensor->Name(), sensor->Snapshot());
    }
    figures.brokerConnected = publisher->Connected();
    figures.brokerTakenOver = publisher->TakenOver();
    figures.publishSent = publisher->Sent();
    figures.publishDropped = queue.Dropped();
    figures.publishSuperseded = publisher->Superseded();
    figures.publishQueueBytes = queue.Bytes();
    figures.publishQueueMessages = queue.Size();
    if (http) {
        figures.http = http->Counters();
    }
    return PrometheusText(figures);
}

void Gateway::Stop() {
    {
        const std::lock_guard<std::mutex> lock(sensorsMutex);
        for (const auto& sensor : sensors) {
            sensor->Stop();
        }
    }
    publisher->Stop();
}

}  // namespace Varkon::QuilGateway

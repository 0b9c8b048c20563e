// The whole gateway: the broker connection and one worker per sensor around one publish queue,
// and the HTTP port that serves the live view of the sensors, their health and their metrics.
#pragma once

#include "Configuration.h"
#include "MqttPublisher.h"
#include "PublishQueue.h"
#include "SensorWorker.h"

#include <quil/view/ViewServer.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Varkon::QuilGateway {

class Gateway {
public:
    /// Listens on the HTTP port, if one is configured; nothing else starts before Start.
    /// @throws std::runtime_error "Cannot serve the view on <address>:<port>: <reason>".
    explicit Gateway(const Configuration& configuration, SensorTiming timing = {},
                     MqttPublisher::Backoff backoff = {});
    ~Gateway();

    void Start();
    /// Stops the sensors (their outputs put back, their deaths queued), then the publisher
    /// (what waits sent, then the node's death).
    void Stop();

    /// Takes the sensors of `next`: a sensor added is started, one removed is stopped (its
    /// output put back), one whose settings changed is started again; the others keep
    /// streaming. The broker and the node's names stay as they are.
    /// @return "<a> added, <r> removed, <c> changed".
    std::string Reload(const Configuration& next);

    /// Keeps the black box of `sensor` as the recording `name`.
    KeepAnswer KeepBlackBox(const std::string& sensor, const std::string& name);

    /// "<n> of <m> sensors streaming; broker connected" (or "not connected").
    std::string Status() const;
    /// The broker is connected and every sensor streams.
    bool Ready() const;
    /// Every sensor's state and the broker's, in Prometheus' text format.
    std::string MetricsText() const;

private:
    std::unique_ptr<SensorWorker> MakeWorker(const SensorSettings& sensor);

    std::string groupId;
    std::string nodeId;
    std::string stateFolder;
    SensorTiming timing;
    PublishQueue queue;
    mutable std::mutex sensorsMutex;  // guards the list; births and /metrics read it
    std::vector<std::unique_ptr<SensorWorker>> sensors;
    std::unique_ptr<MqttPublisher> publisher;
    // Answers with the state of the above; sensors show themselves in it while they run.
    std::unique_ptr<Varkon::QUILApi::View::ViewServer> http;
};

}  // namespace Varkon::QuilGateway

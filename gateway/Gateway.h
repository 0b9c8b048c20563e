// The whole gateway: the broker connection and one worker per sensor around one publish queue.
#pragma once

#include "Configuration.h"
#include "MqttPublisher.h"
#include "PublishQueue.h"
#include "SensorWorker.h"

#include <memory>
#include <string>
#include <vector>

namespace Varkon::QuilGateway {

class Gateway {
public:
    explicit Gateway(const Configuration& configuration, SensorTiming timing = {},
                     MqttPublisher::Backoff backoff = {});
    ~Gateway();

    void Start();
    /// Stops the sensors (their outputs put back, their deaths queued), then the publisher
    /// (what waits sent, then the node's death).
    void Stop();

    /// "<n> of <m> sensors streaming; broker connected" (or "not connected").
    std::string Status() const;
    /// The broker is connected and every sensor streams.
    bool Ready() const;
    /// Every sensor's state and the broker's, in Prometheus' text format.
    std::string MetricsText() const;

private:
    PublishQueue queue;
    std::vector<std::unique_ptr<SensorWorker>> sensors;
    std::unique_ptr<MqttPublisher> publisher;
};

}  // namespace Varkon::QuilGateway

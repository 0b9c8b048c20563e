// The whole gateway: the broker connection and one worker per sensor around one publish queue.
#pragma once

#include "Configuration.h"
#include "MqttPublisher.h"
#include "PublishQueue.h"
#include "SensorWorker.h"

#include <memory>
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

    const MqttPublisher& Publisher() const { return *publisher; }

private:
    PublishQueue queue;
    std::vector<std::unique_ptr<SensorWorker>> sensors;
    std::unique_ptr<MqttPublisher> publisher;
};

}  // namespace Varkon::QuilGateway

// The messages waiting for the broker. Bounded in count and bytes: a full queue drops its oldest
// messages and counts them, so that a slow or absent broker never holds up a sensor's stream.
#pragma once

#include "Configuration.h"
#include "Metrics.h"
#include "Taken.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace Varkon::QuilGateway {

struct OutgoingMessage {
    std::string topic;
    std::string payload;  // sent as it is, unless `deviceMetrics` is given
    int qos = 0;
    /// A Sparkplug device message (DBIRTH, DDATA, DDEATH): encoded with the node's next
    /// sequence number when it is sent, so that the numbers follow the order of sending.
    std::optional<Metrics> deviceMetrics;
    /// When its values were taken: a Sparkplug message carries this time, and is not sent when
    /// a birth taken later went out before it.
    Taken taken = Taken::Now();

    std::size_t Bytes() const;
};

class PublishQueue {
public:
    explicit PublishQueue(PublishQueueLimits limits = {}) : limits(limits) {}

    /// Adds `message`, dropping the oldest ones while the queue is over a limit. Never waits.
    void Push(OutgoingMessage message);
    /// The oldest message, or none at once.
    std::optional<OutgoingMessage> TryPop();
    /// Waits up to `timeout` for a message.
    bool WaitForMessage(std::chrono::milliseconds timeout);

    /// Counts `count` messages taken from the queue that did not reach the broker.
    void CountDropped(uint64_t count);
    /// Messages that did not reach the broker: dropped when the queue was full, and those counted.
    uint64_t Dropped() const;
    std::size_t Size() const;
    /// What the waiting messages take, as the byte limit counts it.
    std::size_t Bytes() const;
    const PublishQueueLimits& Limits() const { return limits; }

private:
    PublishQueueLimits limits;
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::deque<OutgoingMessage> messages;
    std::size_t bytes = 0;
    uint64_t dropped = 0;
};

}  // namespace Varkon::QuilGateway

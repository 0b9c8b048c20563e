#pragma once

// For a program that reads a sensor's stream itself (a stream has one reader): it hands the
// view each entry it takes, and the view shows them instead of reading the stream. Handing over
// costs one relaxed load while no browser watches the sensor, and a copy under a lock while one
// does.

#include <quil/Quil.h>

#include <atomic>
#include <mutex>

namespace Varkon::QUILApi::View {

class FrameBuilder;
class FeedPump;

class FeedInlet {
public:
    FeedInlet() = default;
    FeedInlet(const FeedInlet&) = delete;
    FeedInlet& operator=(const FeedInlet&) = delete;

    /// Any thread, one at a time.
    void Add(const UdpStreaming::StreamProfile& profile);
    void Add(const UdpStreaming::StreamMeasurement& measurement);

private:
    friend class FeedPump;

    std::atomic<bool> watched{false};
    std::mutex mutex;  // guards builder and what it holds
    FrameBuilder* builder = nullptr;
};

}  // namespace Varkon::QUILApi::View

#pragma once

// The reader of one sensor's stream: a thread of its own takes every entry from the QuilStream
// as soon as it is filed (the stream's receiver never waits for the web side) and hands a frame
// on at the display rate. With an inlet the program reads the stream and hands the entries in;
// the pump then only makes the frames.

#include "FrameBuilder.h"

#include <quil/view/SensorFeed.h>

#include <atomic>
#include <functional>
#include <thread>

namespace Varkon::QUILApi::View {

class FeedPump {
public:
    using Publish = std::function<void(nlohmann::json frame)>;

    /// Starts reading at once; `publish` is called on the pump's thread `framesPerSecond` times
    /// a second.
    FeedPump(const SensorFeed& feed, double framesPerSecond, Publish publish);
    ~FeedPump();
    FeedPump(const FeedPump&) = delete;
    FeedPump& operator=(const FeedPump&) = delete;

    /// Whether a browser watches the sensor; an inlet takes entries only while one does.
    void SetWatched(bool watched);

    /// Height map rows per frame width: the map's columns.
    static constexpr std::size_t kColumns = 320;

private:
    void Run();
    void Read();
    void Frame(std::chrono::steady_clock::time_point now);

    const SensorFeed& feed;
    std::chrono::steady_clock::duration period;
    Publish publish;
    FrameBuilder builder;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

}  // namespace Varkon::QUILApi::View

#include "FeedPump.h"

#include <algorithm>

namespace Varkon::QUILApi::View {
namespace {
// How soon a stop is noticed while the stream is silent.
constexpr auto kLongestWait = std::chrono::milliseconds(50);
// Entries taken between two looks at the clock, so that a flood cannot hold a frame back.
constexpr int kBurst = 512;
}  // namespace

FeedPump::FeedPump(const SensorFeed& feed, double framesPerSecond, Publish publish)
    : feed(feed),
      period(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(1.0 / std::max(framesPerSecond, 1.0)))),
      publish(std::move(publish)),
      builder(feed, kColumns) {
    if (feed.inlet) {
        const std::lock_guard<std::mutex> lock(feed.inlet->mutex);
        feed.inlet->builder = &builder;
    }
    thread = std::thread([this] { Run(); });
}

FeedPump::~FeedPump() {
    stopping = true;
    thread.join();
    if (feed.inlet) {
        // The feed may have been shown again meanwhile, through the same inlet.
        const std::lock_guard<std::mutex> lock(feed.inlet->mutex);
        if (feed.inlet->builder == &builder) {
            feed.inlet->watched = false;
            feed.inlet->builder = nullptr;
        }
    }
}

void FeedPump::SetWatched(bool watched) {
    if (!feed.inlet || feed.inlet->watched == watched) {
        return;
    }
    const std::lock_guard<std::mutex> lock(feed.inlet->mutex);
    if (watched) {
        builder.Forget();  // what went by unwatched is no loss
    }
    feed.inlet->watched = watched;
}

void FeedPump::Run() {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now() + period;
    while (!stopping) {
        const auto untilFrame = std::max(Clock::duration::zero(), next - Clock::now());
        const auto wait = std::min<Clock::duration>(untilFrame, kLongestWait);
        const auto waited = Clock::now();
        if (feed.inlet || (!feed.stream->WaitForData(
                               std::chrono::duration_cast<std::chrono::milliseconds>(wait)) &&
                           Clock::now() - waited < wait / 2)) {
            // An inlet is handed its entries; a stream that is closed or ended returns at once:
            // wait here instead.
            std::this_thread::sleep_for(wait);
        }
        if (!feed.inlet) {
            Read();
        }
        const auto now = Clock::now();
        if (now >= next) {
            if (!feed.inlet || feed.inlet->watched) {  // an inlet's frames go to its watchers only
                Frame(now);
            }
            next = std::max(next + period, now);
        }
    }
}

void FeedPump::Read() {
    auto& stream = *feed.stream;
    for (int taken = 0; taken < kBurst; ++taken) {
        if (stream.HasProfile()) {
            builder.Add(stream.PopProfile());
        } else if (stream.HasMeasurement()) {
            builder.Add(stream.PopMeasurement());
        } else {
            break;
        }
    }
    while (stream.HasError()) {
        stream.PopError();  // the counters tell the problems; the queue must not fill
    }
}

void FeedPump::Frame(std::chrono::steady_clock::time_point now) {
    const UdpStreaming::StreamStatistics statistics = feed.stream->GetStatistics();
    std::unique_lock<std::mutex> handingOver;  // an inlet's builder is shared with its program
    if (feed.inlet) {
        handingOver = std::unique_lock<std::mutex>(feed.inlet->mutex);
    }
    nlohmann::json frame = builder.Take(statistics, now);
    handingOver = {};
    frame["finished"] = feed.finished ? feed.finished() : false;
    publish(std::move(frame));
}

}  // namespace Varkon::QUILApi::View

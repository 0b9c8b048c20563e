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
      builder(feed, kColumns),
      thread([this] { Run(); }) {}

FeedPump::~FeedPump() {
    stopping = true;
    thread.join();
}

void FeedPump::Run() {
    using Clock = std::chrono::steady_clock;
    auto& stream = *feed.stream;
    auto next = Clock::now() + period;
    while (!stopping) {
        const auto untilFrame = std::max(Clock::duration::zero(), next - Clock::now());
        const auto wait = std::min<Clock::duration>(untilFrame, kLongestWait);
        const auto waited = Clock::now();
        if (!stream.WaitForData(std::chrono::duration_cast<std::chrono::milliseconds>(wait)) &&
            Clock::now() - waited < wait / 2) {
            // A stream that is closed or ended returns at once: wait here instead.
            std::this_thread::sleep_for(wait);
        }
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
        const auto now = Clock::now();
        if (now >= next) {
            nlohmann::json frame = builder.Take(stream.GetStatistics(), now);
            frame["finished"] = feed.finished ? feed.finished() : false;
            publish(std::move(frame));
            next = std::max(next + period, now);
        }
    }
}

}  // namespace Varkon::QUILApi::View

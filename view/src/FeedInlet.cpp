#include <quil/view/FeedInlet.h>

#include "FrameBuilder.h"

namespace Varkon::QUILApi::View {

namespace {

// What a program hands over goes to the frame maker only while a browser watches.
template <typename Entry>
void HandOver(const std::atomic<bool>& watched, std::mutex& mutex, FrameBuilder* const& builder,
              const Entry& entry) {
    if (!watched.load(std::memory_order_relaxed)) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (builder != nullptr) {
        builder->Add(entry);
    }
}

}  // namespace

void FeedInlet::Add(const UdpStreaming::StreamProfile& profile) {
    HandOver(watched, mutex, builder, profile);
}

void FeedInlet::Add(const UdpStreaming::StreamMeasurement& measurement) {
    HandOver(watched, mutex, builder, measurement);
}

}  // namespace Varkon::QUILApi::View

#include <quil/view/FeedInlet.h>

#include "FrameBuilder.h"

namespace Varkon::QUILApi::View {

void FeedInlet::Add(const UdpStreaming::StreamProfile& profile) {
    if (!watched.load(std::memory_order_relaxed)) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (builder != nullptr) {
        builder->Add(profile);
    }
}

void FeedInlet::Add(const UdpStreaming::StreamMeasurement& measurement) {
    if (!watched.load(std::memory_order_relaxed)) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (builder != nullptr) {
        builder->Add(measurement);
    }
}

}  // namespace Varkon::QUILApi::View

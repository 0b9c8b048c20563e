#include "udpstreaming/recording/RecordingTap.h"

#include <stdexcept>
#include <thread>
#include <utility>

namespace Varkon::QUILApi::UdpStreaming::Recording {

RecordingTap::RecordingTap(const StreamCounters& counters, std::function<void(bool)> runningChanged)
    : counters(counters), runningChanged(std::move(runningChanged)) {}

void RecordingTap::Start(const std::string& path, const RecordingOptions& options, uint16_t port) {
    std::lock_guard<std::mutex> lock(mutex);
    if (owned) {
        const RecordingStatus status = owned->Status();
        if (status.recording) {
            throw std::logic_error("The stream is already recording to " + status.path + ".");
        }
        End();  // one that failed by itself is completed before the next begins
    }
    owned = std::make_unique<StreamRecorder>(path, options, port);
    runningChanged(true);
    recorder.store(owned.get());
}

RecordingStatus RecordingTap::Stop() {
    std::lock_guard<std::mutex> lock(mutex);
    if (owned) {
        End();
    }
    return last.value_or(RecordingStatus{});
}

RecordingStatus RecordingTap::Status() {
    std::lock_guard<std::mutex> lock(mutex);
    if (owned) {
        return owned->Status();
    }
    return last.value_or(RecordingStatus{});
}

void RecordingTap::End() {
    recorder.store(nullptr);
    while (offering.load()) {
        std::this_thread::yield();  // the worker is inside one Offer, which never waits
    }
    last = owned->Stop(counters.Read());
    owned.reset();
    runningChanged(false);
}

void RecordingTap::OfferToRecorder(const std::vector<uint8_t>& datagram,
                                   const Transport::IUdpTransport::ReceiveInfo& info) {
    offering.store(true);
    if (StreamRecorder* current = recorder.load()) {
        current->Offer(datagram, info);
    }
    offering.store(false);
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

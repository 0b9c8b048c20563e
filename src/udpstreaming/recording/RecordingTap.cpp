#include "udpstreaming/recording/RecordingTap.h"

#include <stdexcept>
#include <thread>
#include <utility>

#include "udpstreaming/recording/RecordingDescription.h"

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
    this->options = options;
    this->port = port;
    runningChanged(true);
    recorder.store(owned.get());
}

RecordingStatus RecordingTap::MoveTo(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    const RecordingStatus running = owned ? owned->Status() : RecordingStatus{};
    if (!running.recording) {
        throw std::logic_error("The stream is not recording.");
    }
    RecordingOptions next = options;
    next.descriptionPath = RecordingDescription::PathFor(path);
    for (const std::string& file : {path, next.descriptionPath}) {
        for (const std::string& runningFile : {running.path, running.descriptionPath}) {
            if (StreamRecorder::SameFile(file, runningFile)) {
                throw std::invalid_argument("Could not record to " + path + ": " + file +
                                            " is a file of the running recording; give the "
                                            "next capture another name");
            }
        }
    }
    auto previous = std::make_unique<StreamRecorder>(path, next, port);
    owned.swap(previous);
    recorder.store(owned.get());
    WaitForOfferInHand();
    return previous->Stop(counters.Read());
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
    WaitForOfferInHand();
    last = owned->Stop(counters.Read());
    owned.reset();
    runningChanged(false);
}

void RecordingTap::WaitForOfferInHand() const {
    const uint64_t seen = offers.load();
    if (seen % 2 == 0) {
        return;  // the worker's next offer reads `recorder` afresh
    }
    while (offers.load() == seen) {
        std::this_thread::yield();  // the worker is inside one Offer, which never waits
    }
}

void RecordingTap::OfferToRecorder(const std::vector<uint8_t>& datagram,
                                   const Transport::IUdpTransport::ReceiveInfo& info) {
    // Only the worker writes `offers`.
    offers.store(offers.load(std::memory_order_relaxed) + 1);
    if (StreamRecorder* current = recorder.load()) {
        current->Offer(datagram, info);
    }
    offers.store(offers.load(std::memory_order_relaxed) + 1);
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

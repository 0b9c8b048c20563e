#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/StreamCounters.h"
#include "udpstreaming/recording/StreamRecorder.h"
#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// The stream's recordings, one at a time: the worker offers each datagram to the recorder that
// runs, if one does.
//
// The worker reads `recorder` once per datagram and raises `offering` while it uses it; Stop
// clears `recorder` and then waits until `offering` is down before it destroys the recorder
// (both sides sequentially consistent, so the worker either sees the cleared pointer or is seen
// offering). Start, Stop and Status run on any thread, one at a time.
class RecordingTap {
public:
    // `counters`: the stream's, for the description at the end. `runningChanged` is told, under
    // the tap's lock, whether a recording runs whenever one starts or ends.
    RecordingTap(const StreamCounters& counters, std::function<void(bool)> runningChanged);

    // @throws what QuilStream::StartRecording documents.
    void Start(const std::string& path, const RecordingOptions& options, uint16_t port);
    RecordingStatus Stop();
    RecordingStatus Status();

    // Worker only.
    void Offer(const std::vector<uint8_t>& datagram,
               const Transport::IUdpTransport::ReceiveInfo& info) {
        if (recorder.load(std::memory_order_relaxed) != nullptr) {  // usually one plain load
            OfferToRecorder(datagram, info);
        }
    }

private:
    void OfferToRecorder(const std::vector<uint8_t>& datagram,
                         const Transport::IUdpTransport::ReceiveInfo& info);
    // Stops the recorder and keeps its status. Needs the mutex and a recorder.
    void End();

    const StreamCounters& counters;
    const std::function<void(bool)> runningChanged;
    std::mutex mutex;  // serialises Start, Stop and Status; guards the two below
    std::unique_ptr<StreamRecorder> owned;
    std::optional<RecordingStatus> last;
    std::atomic<StreamRecorder*> recorder{nullptr};
    std::atomic<bool> offering{false};
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

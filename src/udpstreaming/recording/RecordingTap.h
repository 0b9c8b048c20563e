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
// The worker reads `recorder` once per datagram and counts `offers` up on entering and again on
// leaving, so the count is odd while it may use a recorder. Stop clears `recorder` and MoveTo
// puts the next recorder there; either then waits until the worker has left the offer it was in,
// if any, before it stops the previous recorder (both sides sequentially consistent, so the
// worker either sees the new pointer or is seen offering). Every datagram thus goes to exactly
// one recorder, and the worker never waits. Start, MoveTo, Stop and Status run on any thread,
// one at a time.
class RecordingTap {
public:
    // `counters`: the stream's, for the description at the end. `runningChanged` is told, under
    // the tap's lock, whether a recording runs whenever one starts or ends.
    RecordingTap(const StreamCounters& counters, std::function<void(bool)> runningChanged);

    // @throws what QuilStream::StartRecording documents.
    void Start(const std::string& path, const RecordingOptions& options, uint16_t port);
    // @throws what QuilStream::ContinueRecordingIn documents.
    RecordingStatus MoveTo(const std::string& path);
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
    // Returns once the worker can no longer be using a recorder that `recorder` held before.
    void WaitForOfferInHand() const;

    const StreamCounters& counters;
    const std::function<void(bool)> runningChanged;
    std::mutex mutex;  // serialises Start, MoveTo, Stop and Status; guards the four below
    std::unique_ptr<StreamRecorder> owned;
    RecordingOptions options;  // the running recording's, for the next piece
    uint16_t port = 0;
    std::optional<RecordingStatus> last;
    std::atomic<StreamRecorder*> recorder{nullptr};
    std::atomic<uint64_t> offers{0};  // odd while the worker is inside an offer
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

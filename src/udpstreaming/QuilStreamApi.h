#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/DatagramHandler.h"
#include "udpstreaming/StreamCounters.h"
#include "udpstreaming/StreamQueues.h"
#include "udpstreaming/recording/RecordingTap.h"
#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming {

// The stream object: its life (Start, Stop, Close) and its worker thread, which takes datagrams
// from the transport and gives each to the DatagramHandler; that files records and errors into
// the queues (StreamQueues), which application threads read, and offers the datagrams to the
// recording tap (RecordingTap).
//
// Nothing that the stream owns refers back to it by ownership: the handler, the tap's callback
// and the worker use plain references, which is safe because the worker is joined before the
// stream goes. Releasing the last reference therefore stops the worker and closes the socket.
class QuilStreamApi : public QuilStream {
public:
    static constexpr std::chrono::milliseconds kIdlePoll{100};

    // Opens the transport unless it is open (its "UdpTransport::Open Error: " passes through),
    // asks for a receive buffer of StreamStatistics::kDefaultReceiveBuffer, then starts the
    // worker, idle until Start.
    // `waitForRoom`: a full queue makes the worker wait for the application instead of dropping
    // an entry; for sources that can wait, such as a recording.
    explicit QuilStreamApi(std::shared_ptr<Transport::IUdpTransport> transport,
                           bool waitForRoom = false);
    ~QuilStreamApi() override;

    void Start() override;
    void Stop() override;
    void Close() override;
    std::size_t GetQueueCapacity() override;
    void SetQueueCapacity(const std::size_t& capacity) override;
    QueueOverflowPolicy GetQueueOverflowPolicy() override;
    void SetQueueOverflowPolicy(QueueOverflowPolicy policy) override;
    int GetReceiveBufferSize() override;
    void SetReceiveBufferSize(const int& bytes) override;
    bool HasError() override;
    StreamError PopError() override;
    StreamMeasurement PopMeasurement() override;
    bool HasMeasurement() override;
    std::size_t GetMeasurementCount() override;
    void ClearMeasurements() override;
    StreamProfile PopProfile() override;
    bool HasProfile() override;
    std::size_t GetProfileCount() override;
    void ClearProfiles() override;
    std::optional<StreamProfile> PopProfileFor(std::chrono::milliseconds timeout) override;
    std::optional<StreamMeasurement> PopMeasurementFor(std::chrono::milliseconds timeout) override;
    std::optional<StreamError> PopErrorFor(std::chrono::milliseconds timeout) override;
    bool WaitForData(std::chrono::milliseconds timeout) override;
    StreamStatistics GetStatistics() override;
    void ResetStatistics() override;
    void StartRecording(const std::string& path, const RecordingOptions& options) override;
    RecordingStatus StopRecording() override;
    RecordingStatus GetRecordingStatus() override;
    void SetArrivalTimes(bool enabled) override;
    std::optional<TimedProfile> PopTimedProfileFor(std::chrono::milliseconds timeout) override;
    void AcceptOnlyFrom(const std::string& ipv4) override;
    RecordingStatus ContinueRecordingIn(const std::string& path) override;
    bool IsStarted() const { return started && !stop; }
    // Whether the worker has ended (closed, or after a failed receive, filed as an error).
    bool WorkerEnded() const { return workerEnded; }

private:
    void Run();
    void RequestReceiveBuffer(int bytes);
    // Makes `change` to what needs arrival details (the application, a recording), and asks the
    // transport for them while anything does.
    template <class Change>
    void ChangeArrivalNeeds(Change change);
    void WakeWorker();

    StreamCounters counters;  // first: everything below counts into it
    StreamQueues queues;
    std::shared_ptr<Transport::IUdpTransport> transport;
    Recording::RecordingTap tap;
    DatagramHandler handler;
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::atomic<bool> workerEnded{false};
    std::mutex arrivalMutex;     // orders the changes of the two below
    bool arrivalTimes = false;   // the application's wish; under arrivalMutex
    bool recordingRuns = false;  // under arrivalMutex
    std::mutex idleMutex;        // lets Start and Close wake the idle worker at once
    std::condition_variable idleWake;
    std::mutex closeMutex;  // serialises Close, so that one caller joins the worker
    std::thread worker;     // last: starts once everything above exists
};

}  // namespace Varkon::QUILApi::UdpStreaming

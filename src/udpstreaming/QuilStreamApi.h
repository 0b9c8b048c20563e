#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/StreamCounters.h"
#include "udpstreaming/protocol/UdpStreamingProtocol.h"
#include "udpstreaming/recording/StreamRecorder.h"
#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming {

// The stream object. A worker thread takes datagrams from the transport, hands them to the
// protocol and, in the protocol's callbacks, decodes blocks and files records and errors into the
// queues. Application threads read the queues under the queue mutex; waiting readers sleep on
// `filed`, and the worker wakes them after each run of datagrams that arrived together.
//
// Nothing that the stream owns refers back to it by ownership: the protocol's callbacks and the
// worker use the plain pointer, which is safe because the worker is joined before the stream
// goes. Releasing the last reference therefore stops the worker and closes the socket.
class QuilStreamApi : public QuilStream {
public:
    static constexpr std::size_t kDefaultQueueCapacity = 10000;
    static constexpr std::chrono::milliseconds kIdlePoll{100};
    static constexpr uint32_t kEverySender = 0;  // 0.0.0.0, never a sender's address

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
    bool IsStarted() const { return started && !stop; }
    // Whether the worker has ended (closed, or after a failed receive, filed as an error).
    bool WorkerEnded() const { return workerEnded; }

    static StreamMeasurement DecodeMeasurement(const uint32_t& blockId,
                                               const std::vector<uint8_t>& payload);
    static StreamProfile DecodeProfile(const uint32_t& blockId,
                                       const std::vector<uint8_t>& payload);

private:
    void Run();
    // Counts the datagram and hands it to the protocol, or files an error for a cut one.
    void Handle(const std::vector<uint8_t>& datagram,
                const Transport::IUdpTransport::ReceiveInfo& info);
    // Stops the recorder and keeps its status. Needs recordingMutex and a recorder.
    void EndRecording();
    // Asks the transport for arrival details while a recording or the application needs them.
    // Needs recordingMutex.
    void UpdateArrivalDetails();
    // Offers the datagram to the recorder, if one runs. Worker only.
    void Record(const std::vector<uint8_t>& datagram,
                const Transport::IUdpTransport::ReceiveInfo& info);
    void CountProfileBlock(uint8_t dataId);
    void OnData(const uint32_t& blockId, const std::vector<uint8_t>& payload);
    void OnError(const uint32_t& blockId, PacketErrorType type, const std::string& message);
    // Appends an error that must not get lost (types 5 and 7): past the overflow rule, but only
    // up to twice the capacity. Needs the queue mutex.
    void AddUrgentError(StreamError error);
    // The overflow rule; counts what it drops into `dropped` and wakes a waiting reader. Needs
    // the queue mutex.
    template <StreamCounters::Counter dropped, class Queue, class Entry>
    void AddByRule(Queue& queue, Entry&& entry);
    template <class Queue>
    auto PopOldest(Queue& queue, const char* emptyText);
    // With waitForRoom, waits while `queue` is full and the stream runs. Worker only; `lock`
    // holds the queue mutex.
    template <class Queue>
    void WaitForRoom(std::unique_lock<std::mutex>& lock, const Queue& queue);
    void RoomMade();  // needs the queue mutex
    // Waits until `ready` holds, the time is up, or nothing more can arrive. Needs the queue
    // mutex, held by `lock`; returns whether `ready` holds.
    template <class Ready>
    bool WaitFiled(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                   Ready ready);
    template <class Queue>
    std::optional<typename Queue::value_type> PopOldestFor(Queue& queue,
                                                           std::chrono::milliseconds timeout);
    // Readers are woken once per run of datagrams that arrived together, not per entry: a
    // wake is a system call, and the next entries follow within microseconds.
    void WakeReaders();  // needs the queue mutex; worker only
    void FlushWake();    // worker only
    void RequestReceiveBuffer(int bytes);
    template <class Queue>
    std::size_t CountOf(const Queue& queue);
    void WakeWorker();

    StreamCounters counters;  // before the protocol, which counts into it
    std::shared_ptr<Transport::IUdpTransport> transport;
    std::shared_ptr<Protocol::UdpStreamingProtocol> protocol;
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::atomic<bool> workerEnded{false};
    std::atomic<std::size_t> queueCapacity{kDefaultQueueCapacity};
    std::atomic<QueueOverflowPolicy> overflowPolicy{DropOldest};
    std::atomic<bool> arrivalTimes{false};
    std::atomic<uint32_t> acceptedSender{kEverySender};
    int64_t handledArrival = 0;  // of the datagram being handled, when wanted; worker only
    std::mutex queueMutex;
    std::deque<StreamError> errors;
    std::deque<TimedProfile> profiles;
    std::deque<StreamMeasurement> measurements;
    std::condition_variable filed;  // with queueMutex: an entry was filed, or the stream stopped
    std::size_t waiting{0};         // readers waiting on `filed`; under queueMutex
    bool wakePending{false};        // entries filed since the last wake; worker only
    const bool waitForRoom;
    std::condition_variable roomMade;  // with queueMutex: an entry was taken, or the stream stopped
    // The recording. The worker reads `recorder` once per datagram and raises `offering`
    // while it uses it; StopRecording clears `recorder` and then waits until `offering` is
    // down before it destroys the recorder (both sides sequentially consistent, so the worker
    // either sees the cleared pointer or is seen offering).
    std::mutex recordingMutex;  // serialises Start/StopRecording; guards the two below
    std::unique_ptr<Recording::StreamRecorder> ownedRecorder;
    std::optional<RecordingStatus> lastRecording;
    std::atomic<Recording::StreamRecorder*> recorder{nullptr};
    std::atomic<bool> offering{false};
    std::mutex idleMutex;  // lets Start and Close wake the idle worker at once
    std::condition_variable idleWake;
    std::mutex closeMutex;  // serialises Close, so that one caller joins the worker
    std::thread worker;     // last: starts once everything above exists
};

}  // namespace Varkon::QUILApi::UdpStreaming

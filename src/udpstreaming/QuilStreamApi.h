#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/protocol/UdpStreamingProtocol.h"
#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming {

// The stream object. A worker thread takes datagrams from the transport, hands them to the
// protocol and, in the protocol's callbacks, decodes blocks and files records and errors into the
// queues. Application threads read the queues under the queue mutex.
//
// Nothing that the stream owns refers back to it by ownership: the protocol's callbacks and the
// worker use the plain pointer, which is safe because the worker is joined before the stream
// goes. Releasing the last reference therefore stops the worker and closes the socket.
class QuilStreamApi : public QuilStream, public std::enable_shared_from_this<QuilStreamApi> {
public:
    static constexpr std::size_t kDefaultQueueCapacity = 10000;
    static constexpr std::chrono::milliseconds kIdlePoll{100};

    // Opens the transport unless it is open (its "UdpTransport::Open Error: " passes through),
    // then starts the worker, idle until Start.
    explicit QuilStreamApi(std::shared_ptr<Transport::IUdpTransport> transport);
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

    static StreamMeasurement DecodeMeasurement(const uint32_t& blockId,
                                               const std::vector<uint8_t>& payload);
    static StreamProfile DecodeProfile(const uint32_t& blockId,
                                       const std::vector<uint8_t>& payload);

private:
    void Run();
    void OnData(const uint32_t& blockId, const std::vector<uint8_t>& payload);
    void OnError(const uint32_t& blockId, PacketErrorType type, const std::string& message);
    // Appends an error that must not get lost (types 5 and 7): past the overflow rule, but only
    // up to twice the capacity. Needs the queue mutex.
    void AddUrgentError(StreamError error);
    // The overflow rule. Needs the queue mutex.
    template <class Queue, class Entry>
    void AddByRule(Queue& queue, Entry&& entry);
    template <class Queue>
    auto PopOldest(Queue& queue, const char* emptyText);
    template <class Queue>
    std::size_t CountOf(const Queue& queue);
    void WakeWorker();

    std::shared_ptr<Transport::IUdpTransport> transport;
    std::shared_ptr<Protocol::UdpStreamingProtocol> protocol;
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::atomic<std::size_t> queueCapacity{kDefaultQueueCapacity};
    std::atomic<QueueOverflowPolicy> overflowPolicy{DropOldest};
    std::mutex queueMutex;
    std::deque<StreamError> errors;
    std::deque<StreamProfile> profiles;
    std::deque<StreamMeasurement> measurements;
    std::mutex idleMutex;  // lets Start and Close wake the idle worker at once
    std::condition_variable idleWake;
    std::thread worker;  // last: starts once everything above exists
};

}  // namespace Varkon::QUILApi::UdpStreaming

#include "udpstreaming/QuilStreamApi.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>

#include <boost/asio/ip/address_v4.hpp>

#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/protocol/PayloadDecoder.h"

namespace Varkon::QUILApi::UdpStreaming {

namespace {

const std::string kTaskExceptionPrefix = "Exception in streaming task: ";

// The receive buffer granted for a request of `requested` bytes, in the units of the request,
// from the size the system reports. Linux caps a request at net.core.rmem_max and reports twice
// what it grants (the rest is for its bookkeeping); some kernels that emulate Linux report the
// size itself. The limit tells the two apart: a report of at least twice the granted size is a
// doubled one.
int GrantedReceiveBuffer(int requested, int reported) {
    int limit = requested;
#if defined(__linux__)
    std::ifstream file("/proc/sys/net/core/rmem_max");
    long long rmemMax = 0;
    if (file >> rmemMax && rmemMax > 0 && rmemMax < limit) {
        limit = static_cast<int>(rmemMax);
    }
    if (static_cast<long long>(reported) >= 2LL * limit) {
        return reported / 2;
    }
#else
    (void)requested;
#endif
    return reported;
}

}  // namespace

template <StreamCounters::Counter dropped, class Queue, class Entry>
void QuilStreamApi::AddByRule(Queue& queue, Entry&& entry) {
    if (queue.size() < queueCapacity) {
        queue.push_back(std::forward<Entry>(entry));
    } else if (overflowPolicy == DropOldest && !queue.empty()) {
        queue.pop_front();
        queue.push_back(std::forward<Entry>(entry));
        counters.Add<dropped>();
    } else {
        counters.Add<dropped>();
        return;
    }
    WakeReaders();
}

template <class Queue>
auto QuilStreamApi::PopOldest(Queue& queue, const char* emptyText) {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (queue.empty()) {
        throw std::out_of_range(emptyText);
    }
    auto entry = std::move(queue.front());
    queue.pop_front();
    RoomMade();
    return entry;
}

template <class Queue>
void QuilStreamApi::WaitForRoom(std::unique_lock<std::mutex>& lock, const Queue& queue) {
    if (!waitForRoom) {
        return;
    }
    while (queue.size() >= queueCapacity && started && !stop) {
        // The readers must see what the full queue holds, or nobody would ever make room.
        if (wakePending) {
            wakePending = false;
            filed.notify_all();
        }
        roomMade.wait_for(lock, kIdlePoll);
    }
}

void QuilStreamApi::RoomMade() {
    if (waitForRoom) {
        roomMade.notify_one();
    }
}

template <class Ready>
bool QuilStreamApi::WaitFiled(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                              Ready ready) {
    using Clock = std::chrono::steady_clock;
    // A limit beyond the clock's range (milliseconds::max() for "no limit") waits until the end.
    const auto now = Clock::now();
    const auto deadline = timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(
                                         Clock::time_point::max() - now)
                              ? Clock::time_point::max()
                              : now + timeout;
    ++waiting;
    const bool result =
        filed.wait_until(lock, deadline, [&] { return ready() || !started || stop; });
    --waiting;
    return result && ready();
}

template <class Queue>
std::optional<typename Queue::value_type> QuilStreamApi::PopOldestFor(
    Queue& queue, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(queueMutex);
    if (!WaitFiled(lock, timeout, [&] { return !queue.empty(); })) {
        return std::nullopt;
    }
    auto entry = std::move(queue.front());
    queue.pop_front();
    RoomMade();
    return entry;
}

template <class Queue>
std::size_t QuilStreamApi::CountOf(const Queue& queue) {
    std::lock_guard<std::mutex> lock(queueMutex);
    return queue.size();
}

QuilStreamApi::QuilStreamApi(std::shared_ptr<Transport::IUdpTransport> transport, bool waitForRoom)
    : transport(std::move(transport)),
      protocol(std::make_shared<Protocol::UdpStreamingProtocol>()),
      waitForRoom(waitForRoom) {
    if (!this->transport->IsOpen()) {
        this->transport->Open();
    }
    try {
        RequestReceiveBuffer(StreamStatistics::kDefaultReceiveBuffer);
    } catch (const std::exception&) {
        // A transport without a size to set keeps what it has; the counters show 0.
    }
    protocol->SetCounters(counters);
    // Installed once, before the worker exists, so that no replacement can race HandlePacket.
    protocol->SetDataCallback(
        [this](const uint32_t blockId, std::vector<uint8_t> payload) { OnData(blockId, payload); });
    protocol->SetErrorCallback([this](const uint32_t blockId, PacketErrorType type,
                                      std::string message) { OnError(blockId, type, message); });
    worker = std::thread(&QuilStreamApi::Run, this);
}

QuilStreamApi::~QuilStreamApi() {
    try {
        Close();
    } catch (...) {
        // A destructor must not throw; the worker is joined or was never joinable here.
    }
}

void QuilStreamApi::Start() {
    started = true;
    WakeWorker();
}

void QuilStreamApi::Stop() {
    started = false;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        filed.notify_all();  // nothing more arrives for waiting readers
        roomMade.notify_all();
    }
    transport->Interrupt();  // the worker need not wait for a datagram to see it
}

void QuilStreamApi::Close() {
    stop = true;
    Stop();
    WakeWorker();
    // A second caller waits here until the first has joined the worker, then finds it joined.
    std::lock_guard<std::mutex> lock(closeMutex);
    if (worker.joinable()) {
        worker.join();
    }
    StopRecording();  // completes the capture and its description
    transport->Close();
}

std::size_t QuilStreamApi::GetQueueCapacity() {
    return queueCapacity;
}

void QuilStreamApi::SetQueueCapacity(const std::size_t& capacity) {
    std::lock_guard<std::mutex> lock(queueMutex);
    queueCapacity = capacity;
    roomMade.notify_all();
}

QueueOverflowPolicy QuilStreamApi::GetQueueOverflowPolicy() {
    return overflowPolicy;
}

void QuilStreamApi::SetQueueOverflowPolicy(QueueOverflowPolicy policy) {
    overflowPolicy = policy;
}

int QuilStreamApi::GetReceiveBufferSize() {
    return transport->GetReceiveBufferSize();
}

void QuilStreamApi::SetReceiveBufferSize(const int& bytes) {
    RequestReceiveBuffer(bytes);
}

void QuilStreamApi::RequestReceiveBuffer(int bytes) {
    transport->SetReceiveBufferSize(bytes);
    counters.SetReceiveBuffer(bytes,
                              GrantedReceiveBuffer(bytes, transport->GetReceiveBufferSize()));
}

bool QuilStreamApi::HasError() {
    return CountOf(errors) != 0;
}

StreamError QuilStreamApi::PopError() {
    return PopOldest(errors, "Error queue is empty.");
}

StreamMeasurement QuilStreamApi::PopMeasurement() {
    return PopOldest(measurements, "Measurement queue is empty.");
}

bool QuilStreamApi::HasMeasurement() {
    return CountOf(measurements) != 0;
}

std::size_t QuilStreamApi::GetMeasurementCount() {
    return CountOf(measurements);
}

void QuilStreamApi::ClearMeasurements() {
    std::lock_guard<std::mutex> lock(queueMutex);
    measurements.clear();
    RoomMade();
}

StreamProfile QuilStreamApi::PopProfile() {
    return PopOldest(profiles, "Profile queue is empty.").profile;
}

bool QuilStreamApi::HasProfile() {
    return CountOf(profiles) != 0;
}

std::size_t QuilStreamApi::GetProfileCount() {
    return CountOf(profiles);
}

void QuilStreamApi::ClearProfiles() {
    std::lock_guard<std::mutex> lock(queueMutex);
    profiles.clear();
    RoomMade();
}

std::optional<StreamProfile> QuilStreamApi::PopProfileFor(std::chrono::milliseconds timeout) {
    if (auto timed = PopOldestFor(profiles, timeout)) {
        return std::move(timed->profile);
    }
    return std::nullopt;
}

std::optional<TimedProfile> QuilStreamApi::PopTimedProfileFor(std::chrono::milliseconds timeout) {
    return PopOldestFor(profiles, timeout);
}

std::optional<StreamMeasurement> QuilStreamApi::PopMeasurementFor(
    std::chrono::milliseconds timeout) {
    return PopOldestFor(measurements, timeout);
}

std::optional<StreamError> QuilStreamApi::PopErrorFor(std::chrono::milliseconds timeout) {
    return PopOldestFor(errors, timeout);
}

bool QuilStreamApi::WaitForData(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(queueMutex);
    return WaitFiled(lock, timeout, [this] {
        return !errors.empty() || !measurements.empty() || !profiles.empty();
    });
}

StreamStatistics QuilStreamApi::GetStatistics() {
    return counters.Read();
}

void QuilStreamApi::ResetStatistics() {
    counters.Reset();
}

void QuilStreamApi::StartRecording(const std::string& path, const RecordingOptions& options) {
    std::lock_guard<std::mutex> lock(recordingMutex);
    if (ownedRecorder) {
        const RecordingStatus status = ownedRecorder->Status();
        if (status.recording) {
            throw std::logic_error("The stream is already recording to " + status.path + ".");
        }
        EndRecording();  // one that failed by itself is completed before the next begins
    }
    ownedRecorder =
        std::make_unique<Recording::StreamRecorder>(path, options, transport->GetPort());
    UpdateArrivalDetails();
    recorder.store(ownedRecorder.get());
}

RecordingStatus QuilStreamApi::StopRecording() {
    std::lock_guard<std::mutex> lock(recordingMutex);
    if (ownedRecorder) {
        EndRecording();
    }
    return lastRecording.value_or(RecordingStatus{});
}

void QuilStreamApi::EndRecording() {
    recorder.store(nullptr);
    while (offering.load()) {
        std::this_thread::yield();  // the worker is inside one Offer, which never waits
    }
    lastRecording = ownedRecorder->Stop(counters.Read());
    ownedRecorder.reset();
    UpdateArrivalDetails();
}

void QuilStreamApi::UpdateArrivalDetails() {
    transport->SetArrivalDetails(arrivalTimes || ownedRecorder != nullptr);
}

void QuilStreamApi::SetArrivalTimes(bool enabled) {
    std::lock_guard<std::mutex> lock(recordingMutex);
    arrivalTimes = enabled;
    UpdateArrivalDetails();
}

void QuilStreamApi::AcceptOnlyFrom(const std::string& ipv4) {
    if (ipv4.empty()) {
        acceptedSender = kEverySender;
        return;
    }
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(ipv4, error);
    if (error) {
        throw std::invalid_argument(ipv4 + " is not an IPv4 address.");
    }
    acceptedSender = address.to_uint();
}

RecordingStatus QuilStreamApi::GetRecordingStatus() {
    std::lock_guard<std::mutex> lock(recordingMutex);
    if (ownedRecorder) {
        return ownedRecorder->Status();
    }
    return lastRecording.value_or(RecordingStatus{});
}

void QuilStreamApi::Record(const std::vector<uint8_t>& datagram,
                           const Transport::IUdpTransport::ReceiveInfo& info) {
    if (recorder.load(std::memory_order_relaxed) == nullptr) {
        return;  // the usual case costs one plain load
    }
    offering.store(true);
    if (Recording::StreamRecorder* current = recorder.load()) {
        current->Offer(datagram, info);
    }
    offering.store(false);
}

StreamMeasurement QuilStreamApi::DecodeMeasurement(const uint32_t& blockId,
                                                   const std::vector<uint8_t>& payload) {
    return Protocol::DecodeMeasurement(blockId, payload);
}

StreamProfile QuilStreamApi::DecodeProfile(const uint32_t& blockId,
                                           const std::vector<uint8_t>& payload) {
    return Protocol::DecodeProfile(blockId, payload);
}

void QuilStreamApi::Run() {
    std::vector<uint8_t> datagram;
    datagram.reserve(Protocol::kMaxDatagramSize);
    Transport::IUdpTransport::ReceiveInfo info;
    while (!stop) {
        info.more = false;
        if (!started) {
            std::unique_lock<std::mutex> lock(idleMutex);
            idleWake.wait_for(lock, kIdlePoll, [this] { return stop || started; });
            continue;
        }
        try {
            // A wait that ended without a datagram is not a packet.
            if (transport->ReceiveWithInfo(datagram, info)) {
                Handle(datagram, info);
            } else {
                protocol->DropTimedOut();  // a flood's partial blocks go without a next datagram
            }
            if (!info.more) {
                FlushWake();
            }
        } catch (const std::exception& e) {
            {
                std::lock_guard<std::mutex> lock(queueMutex);
                AddUrgentError(
                    StreamError{0, StreamingTaskException, kTaskExceptionPrefix + e.what()});
            }
            FlushWake();
            workerEnded = true;
            return;
        }
    }
    workerEnded = true;
}

void QuilStreamApi::Handle(const std::vector<uint8_t>& datagram,
                           const Transport::IUdpTransport::ReceiveInfo& info) {
    const uint32_t accepted = acceptedSender.load(std::memory_order_relaxed);
    if (accepted != kEverySender && info.senderAddress != accepted) {
        counters.Add<&StreamStatistics::datagramsOtherSender>();
        return;
    }
    handledArrival = arrivalTimes.load(std::memory_order_relaxed) ? info.arrivalMicroseconds : 0;
    counters.Add<&StreamStatistics::datagramsReceived>();
    counters.Add<&StreamStatistics::bytesReceived>(datagram.size());
    counters.Raise<&StreamStatistics::kernelDrops>(info.kernelDrops);
    Record(datagram, info);
    if (info.truncated) {
        // The rest of the block is gone; decoding the part would deliver wrong points.
        counters.Add<&StreamStatistics::datagramsTooLong>();
        const uint32_t blockId = datagram.size() >= Protocol::PacketHeader::kSize
                                     ? Protocol::PacketHeader::BlockId(datagram)
                                     : 0;
        OnError(blockId, InvalidPacket,
                "Packet is longer than " + std::to_string(Protocol::kMaxDatagramSize) +
                    " bytes and was cut off.");
        return;
    }
    protocol->HandlePacket(datagram);
}

void QuilStreamApi::OnData(const uint32_t& blockId, const std::vector<uint8_t>& payload) {
    if (payload.empty()) {
        counters.Add<&StreamStatistics::blocksEmpty>();
        std::lock_guard<std::mutex> lock(queueMutex);
        AddUrgentError(StreamError{blockId, EmptyContent, "Received a packet with empty content."});
        return;
    }
    // Decoding runs without the queue mutex, so that readers never wait for it.
    try {
        switch (payload[0]) {
            case Protocol::kMeasurementData: {
                StreamMeasurement measurement = Protocol::DecodeMeasurement(blockId, payload);
                counters.Add<&StreamStatistics::measurementBlocks>();
                std::unique_lock<std::mutex> lock(queueMutex);
                WaitForRoom(lock, measurements);
                AddByRule<&StreamStatistics::measurementsDropped>(measurements,
                                                                  std::move(measurement));
                break;
            }
            case Protocol::kProfileChannels01:
            case Protocol::kProfileChannels02:
            case Protocol::kProfileChannels012: {
                StreamProfile profile = Protocol::DecodeProfile(blockId, payload);
                CountProfileBlock(payload[0]);
                std::unique_lock<std::mutex> lock(queueMutex);
                WaitForRoom(lock, profiles);
                AddByRule<&StreamStatistics::profilesDropped>(
                    profiles, TimedProfile{std::move(profile), handledArrival});
                break;
            }
            default:
                counters.Add<&StreamStatistics::blocksUnknownDataId>();
                break;
        }
    } catch (const std::exception& e) {
        counters.Add<&StreamStatistics::decodeFailures>();
        std::lock_guard<std::mutex> lock(queueMutex);
        AddUrgentError(StreamError{0, StreamingTaskException, kTaskExceptionPrefix + e.what()});
    }
}

void QuilStreamApi::OnError(const uint32_t& blockId, PacketErrorType type,
                            const std::string& message) {
    std::lock_guard<std::mutex> lock(queueMutex);
    AddByRule<&StreamStatistics::errorsDropped>(errors, StreamError{blockId, type, message});
}

void QuilStreamApi::AddUrgentError(StreamError error) {
    if (errors.size() / 2 < queueCapacity) {  // size < 2 x capacity, without overflow
        errors.push_back(std::move(error));
        WakeReaders();
    } else {
        AddByRule<&StreamStatistics::errorsDropped>(errors, std::move(error));
    }
}

void QuilStreamApi::CountProfileBlock(uint8_t dataId) {
    switch (dataId) {
        case Protocol::kProfileChannels01:
            counters.Add<&StreamStatistics::profileBlocks1>();
            break;
        case Protocol::kProfileChannels02:
            counters.Add<&StreamStatistics::profileBlocks2>();
            break;
        default:
            counters.Add<&StreamStatistics::profileBlocks3>();
            break;
    }
}

void QuilStreamApi::WakeReaders() {
    wakePending = true;
}

void QuilStreamApi::FlushWake() {
    if (!wakePending) {
        return;
    }
    std::lock_guard<std::mutex> lock(queueMutex);
    wakePending = false;
    if (waiting != 0) {
        filed.notify_all();
    }
}

void QuilStreamApi::WakeWorker() {
    // Taking the mutex orders the flag change before the worker's next look at it, so the
    // notification cannot fall between its check and its wait.
    { std::lock_guard<std::mutex> lock(idleMutex); }
    idleWake.notify_all();
}

}  // namespace Varkon::QUILApi::UdpStreaming

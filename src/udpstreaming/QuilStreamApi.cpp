#include "udpstreaming/QuilStreamApi.h"

#include <stdexcept>
#include <utility>

#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/protocol/PayloadDecoder.h"

namespace Varkon::QUILApi::UdpStreaming {

namespace {

const std::string kTaskExceptionPrefix = "Exception in streaming task: ";

}  // namespace

template <class Queue, class Entry>
void QuilStreamApi::AddByRule(Queue& queue, Entry&& entry) {
    if (queue.size() < queueCapacity) {
        queue.push_back(std::forward<Entry>(entry));
    } else if (overflowPolicy == DropOldest && !queue.empty()) {
        queue.pop_front();
        queue.push_back(std::forward<Entry>(entry));
    }
}

template <class Queue>
auto QuilStreamApi::PopOldest(Queue& queue, const char* emptyText) {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (queue.empty()) {
        throw std::out_of_range(emptyText);
    }
    auto entry = std::move(queue.front());
    queue.pop_front();
    return entry;
}

template <class Queue>
std::size_t QuilStreamApi::CountOf(const Queue& queue) {
    std::lock_guard<std::mutex> lock(queueMutex);
    return queue.size();
}

QuilStreamApi::QuilStreamApi(std::shared_ptr<Transport::IUdpTransport> transport)
    : transport(std::move(transport)),
      protocol(std::make_shared<Protocol::UdpStreamingProtocol>()) {
    if (!this->transport->IsOpen()) {
        this->transport->Open();
    }
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
}

void QuilStreamApi::Close() {
    stop = true;
    started = false;
    WakeWorker();
    if (worker.joinable()) {
        worker.join();
    }
    transport->Close();
}

std::size_t QuilStreamApi::GetQueueCapacity() {
    return queueCapacity;
}

void QuilStreamApi::SetQueueCapacity(const std::size_t& capacity) {
    queueCapacity = capacity;
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
    transport->SetReceiveBufferSize(bytes);
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
}

StreamProfile QuilStreamApi::PopProfile() {
    return PopOldest(profiles, "Profile queue is empty.");
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
    while (!stop) {
        if (!started) {
            std::unique_lock<std::mutex> lock(idleMutex);
            idleWake.wait_for(lock, kIdlePoll, [this] { return stop || started; });
            continue;
        }
        try {
            // A wait that ended without a datagram is not a packet.
            if (transport->ReceiveInto(datagram)) {
                protocol->HandlePacket(datagram);
            }
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> lock(queueMutex);
            AddUrgentError(StreamError{0, StreamingTaskException, kTaskExceptionPrefix + e.what()});
            return;
        }
    }
}

void QuilStreamApi::OnData(const uint32_t& blockId, const std::vector<uint8_t>& payload) {
    if (payload.empty()) {
        std::lock_guard<std::mutex> lock(queueMutex);
        AddUrgentError(StreamError{blockId, EmptyContent, "Received a packet with empty content."});
        return;
    }
    // Decoding runs without the queue mutex, so that readers never wait for it.
    try {
        switch (payload[0]) {
            case Protocol::kMeasurementData: {
                StreamMeasurement measurement = Protocol::DecodeMeasurement(blockId, payload);
                std::lock_guard<std::mutex> lock(queueMutex);
                AddByRule(measurements, std::move(measurement));
                break;
            }
            case Protocol::kProfileChannels01:
            case Protocol::kProfileChannels02:
            case Protocol::kProfileChannels012: {
                StreamProfile profile = Protocol::DecodeProfile(blockId, payload);
                std::lock_guard<std::mutex> lock(queueMutex);
                AddByRule(profiles, std::move(profile));
                break;
            }
            default:
                break;
        }
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(queueMutex);
        AddUrgentError(StreamError{0, StreamingTaskException, kTaskExceptionPrefix + e.what()});
    }
}

void QuilStreamApi::OnError(const uint32_t& blockId, PacketErrorType type,
                            const std::string& message) {
    std::lock_guard<std::mutex> lock(queueMutex);
    AddByRule(errors, StreamError{blockId, type, message});
}

void QuilStreamApi::AddUrgentError(StreamError error) {
    if (errors.size() / 2 < queueCapacity) {  // size < 2 x capacity, without overflow
        errors.push_back(std::move(error));
    } else {
        AddByRule(errors, std::move(error));
    }
}

void QuilStreamApi::WakeWorker() {
    // Taking the mutex orders the flag change before the worker's next look at it, so the
    // notification cannot fall between its check and its wait.
    { std::lock_guard<std::mutex> lock(idleMutex); }
    idleWake.notify_all();
}

}  // namespace Varkon::QUILApi::UdpStreaming

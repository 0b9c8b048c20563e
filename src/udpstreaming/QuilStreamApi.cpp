#include "udpstreaming/QuilStreamApi.h"

#include <stdexcept>
#include <string>
#include <utility>

#include <boost/asio/ip/address_v4.hpp>

#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/transport/GrantedReceiveBuffer.h"

namespace Varkon::QUILApi::UdpStreaming {

QuilStreamApi::QuilStreamApi(std::shared_ptr<Transport::IUdpTransport> transport, bool waitForRoom)
    : queues(counters, waitForRoom),
      transport(std::move(transport)),
      tap(counters, [this](bool runs) { ChangeArrivalNeeds([&] { recordingRuns = runs; }); }),
      handler(counters, queues, tap) {
    if (!this->transport->IsOpen()) {
        this->transport->Open();
    }
    try {
        RequestReceiveBuffer(StreamStatistics::kDefaultReceiveBuffer);
    } catch (const std::exception&) {
        // A transport without a size to set keeps what it has; the counters show 0.
    }
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
    queues.SetFiling(true);
    WakeWorker();
}

void QuilStreamApi::Stop() {
    started = false;
    queues.SetFiling(false);  // nothing more arrives for waiting readers
    transport->Interrupt();   // the worker need not wait for a datagram to see it
}

void QuilStreamApi::Close() {
    stop = true;
    queues.Close();
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
    return queues.GetCapacity();
}

void QuilStreamApi::SetQueueCapacity(const std::size_t& capacity) {
    queues.SetCapacity(capacity);
}

QueueOverflowPolicy QuilStreamApi::GetQueueOverflowPolicy() {
    return queues.GetPolicy();
}

void QuilStreamApi::SetQueueOverflowPolicy(QueueOverflowPolicy policy) {
    queues.SetPolicy(policy);
}

int QuilStreamApi::GetReceiveBufferSize() {
    return transport->GetReceiveBufferSize();
}

void QuilStreamApi::SetReceiveBufferSize(const int& bytes) {
    RequestReceiveBuffer(bytes);
}

void QuilStreamApi::RequestReceiveBuffer(int bytes) {
    transport->SetReceiveBufferSize(bytes);
    counters.SetReceiveBuffer(
        bytes, Transport::GrantedReceiveBuffer(bytes, transport->GetReceiveBufferSize()));
}

bool QuilStreamApi::HasError() {
    return queues.Count<StreamError>() != 0;
}

StreamError QuilStreamApi::PopError() {
    return queues.Pop<StreamError>();
}

StreamMeasurement QuilStreamApi::PopMeasurement() {
    return queues.Pop<StreamMeasurement>();
}

bool QuilStreamApi::HasMeasurement() {
    return queues.Count<StreamMeasurement>() != 0;
}

std::size_t QuilStreamApi::GetMeasurementCount() {
    return queues.Count<StreamMeasurement>();
}

void QuilStreamApi::ClearMeasurements() {
    queues.Clear<StreamMeasurement>();
}

StreamProfile QuilStreamApi::PopProfile() {
    return queues.Pop<TimedProfile>().profile;
}

bool QuilStreamApi::HasProfile() {
    return queues.Count<TimedProfile>() != 0;
}

std::size_t QuilStreamApi::GetProfileCount() {
    return queues.Count<TimedProfile>();
}

void QuilStreamApi::ClearProfiles() {
    queues.Clear<TimedProfile>();
}

std::optional<StreamProfile> QuilStreamApi::PopProfileFor(std::chrono::milliseconds timeout) {
    if (auto timed = queues.PopFor<TimedProfile>(timeout)) {
        return std::move(timed->profile);
    }
    return std::nullopt;
}

std::optional<TimedProfile> QuilStreamApi::PopTimedProfileFor(std::chrono::milliseconds timeout) {
    return queues.PopFor<TimedProfile>(timeout);
}

std::optional<StreamMeasurement> QuilStreamApi::PopMeasurementFor(
    std::chrono::milliseconds timeout) {
    return queues.PopFor<StreamMeasurement>(timeout);
}

std::optional<StreamError> QuilStreamApi::PopErrorFor(std::chrono::milliseconds timeout) {
    return queues.PopFor<StreamError>(timeout);
}

bool QuilStreamApi::WaitForData(std::chrono::milliseconds timeout) {
    return queues.WaitForAny(timeout);
}

StreamStatistics QuilStreamApi::GetStatistics() {
    return counters.Read();
}

void QuilStreamApi::ResetStatistics() {
    counters.Reset();
}

void QuilStreamApi::StartRecording(const std::string& path, const RecordingOptions& options) {
    tap.Start(path, options, transport->GetPort());
}

RecordingStatus QuilStreamApi::StopRecording() {
    return tap.Stop();
}

RecordingStatus QuilStreamApi::GetRecordingStatus() {
    return tap.Status();
}

RecordingStatus QuilStreamApi::ContinueRecordingIn(const std::string& path) {
    return tap.MoveTo(path);
}

template <class Change>
void QuilStreamApi::ChangeArrivalNeeds(Change change) {
    std::lock_guard<std::mutex> lock(arrivalMutex);
    change();
    transport->SetArrivalDetails(arrivalTimes || recordingRuns);
}

void QuilStreamApi::SetArrivalTimes(bool enabled) {
    ChangeArrivalNeeds([&] {
        arrivalTimes = enabled;
        handler.SetArrivalTimes(enabled);
    });
}

void QuilStreamApi::AcceptOnlyFrom(const std::string& ipv4) {
    if (ipv4.empty()) {
        handler.AcceptOnlyFrom(DatagramHandler::kEverySender);
        return;
    }
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(ipv4, error);
    if (error) {
        throw std::invalid_argument(ipv4 + " is not an IPv4 address.");
    }
    handler.AcceptOnlyFrom(address.to_uint());
}

void QuilStreamApi::Run() {
    std::vector<uint8_t> datagram;
    datagram.reserve(Protocol::kMaxDatagramSize);
    Transport::IUdpTransport::ReceiveInfo info;
    while (!stop) {
        info.more = false;
        if (!started) {
            queues.FlushWake();  // a run that a Stop cut short
            std::unique_lock<std::mutex> lock(idleMutex);
            idleWake.wait_for(lock, kIdlePoll, [this] { return stop || started; });
            continue;
        }
        try {
            // A wait that ended without a datagram is not a packet.
            if (transport->ReceiveDatagram(datagram, info)) {
                handler.Handle(datagram, info);
            } else {
                handler.DropTimedOut();  // a flood's partial blocks go without a next datagram
            }
            if (!info.more) {
                queues.FlushWake();
            }
        } catch (const std::exception& e) {
            handler.FileFailure(e.what());
            queues.FlushWake();
            workerEnded = true;
            return;
        }
    }
    queues.FlushWake();
    workerEnded = true;
}

void QuilStreamApi::WakeWorker() {
    // Taking the mutex orders the flag change before the worker's next look at it, so the
    // notification cannot fall between its check and its wait.
    { std::lock_guard<std::mutex> lock(idleMutex); }
    idleWake.notify_all();
}

}  // namespace Varkon::QUILApi::UdpStreaming

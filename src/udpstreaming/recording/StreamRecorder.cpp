#include "udpstreaming/recording/StreamRecorder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "udpstreaming/recording/RecordingDescription.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

constexpr auto kWriterPoll = std::chrono::milliseconds(1);
constexpr int kWriterNice = 10;

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

nlohmann::json ParseSensor(const std::string& path, const std::string& text) {
    if (text.empty()) {
        return nullptr;
    }
    auto sensor = nlohmann::json::parse(text, nullptr, false);
    if (sensor.is_discarded() || !sensor.is_object()) {
        throw std::runtime_error("Could not record to " + path +
                                 ": the sensor's description is not a JSON object");
    }
    return sensor;
}

}  // namespace

StreamRecorder::StreamRecorder(const std::string& path, const RecordingOptions& options,
                               uint16_t port)
    : port(port),
      path(path),
      descriptionPath(options.descriptionPath.empty() ? RecordingDescription::PathFor(path)
                                                      : options.descriptionPath),
      sensor(ParseSensor(path, options.sensorDescription)),
      ring(std::max<std::size_t>(options.bufferDatagrams, 1)),
      writer(path, port),
      startMicroseconds(NowMicroseconds()) {
    try {
        RecordingDescription::Write(descriptionPath,
                                    RecordingDescription::Build(Status(), port, sensor, {}));
    } catch (const std::exception& e) {
        throw std::runtime_error("Could not record to " + path + ": " + e.what());
    }
    thread = std::thread(&StreamRecorder::Write, this);
}

StreamRecorder::~StreamRecorder() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    stopRequested.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

void StreamRecorder::Offer(const std::vector<uint8_t>& datagram,
                           const Transport::IUdpTransport::ReceiveInfo& info) {
    if (failed.load(std::memory_order_relaxed)) {
        return;
    }
    DatagramRing::Slot* slot = ring.Claim();
    if (slot == nullptr) {
        dropped.store(dropped.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return;
    }
    const std::size_t size = std::min(datagram.size(), DatagramRing::kSlotBytes);
    slot->arrivalMicroseconds =
        info.arrivalMicroseconds != 0 ? info.arrivalMicroseconds : NowMicroseconds();
    slot->senderAddress = info.senderAddress;
    slot->senderPort = info.senderPort;
    slot->receiverAddress = info.receiverAddress;
    slot->size = static_cast<uint32_t>(size);
    slot->wireSize = static_cast<uint32_t>(std::max(info.wireSize, datagram.size()));
    std::memcpy(slot->Datagram(), datagram.data(), size);
    ring.Publish();
}

RecordingStatus StreamRecorder::Status() const {
    RecordingStatus status;
    status.path = path;
    status.descriptionPath = descriptionPath;
    status.datagramsWritten = written.load(std::memory_order_relaxed);
    status.datagramsDropped = dropped.load(std::memory_order_relaxed);
    status.startMicroseconds = startMicroseconds;
    std::lock_guard<std::mutex> lock(mutex);
    status.error = error;
    status.endMicroseconds = endMicroseconds;
    status.recording = !stopping && error.empty();
    return status;
}

RecordingStatus StreamRecorder::Stop(const StreamStatistics& counters) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    stopRequested.notify_all();
    if (thread.joinable()) {
        thread.join();  // it has written what the ring held
    }
    const bool closed = writer.Close();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!closed && error.empty()) {
            error = writer.Error();
        }
        endMicroseconds = NowMicroseconds();
    }
    try {
        RecordingDescription::Write(descriptionPath,
                                    RecordingDescription::Build(Status(), port, sensor, counters));
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(mutex);
        error += (error.empty() ? "" : "; ") + std::string(e.what());
    }
    return Status();
}

void StreamRecorder::Write() {
#if defined(__linux__)
    // The writer yields to the stream's worker when they share a core: the ring lets it catch
    // up later, while a late worker lets the socket's buffer overflow.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kWriterNice);
#endif
    for (;;) {
        const bool ok = Drain();
        if (!ok) {
            failed = true;
            std::lock_guard<std::mutex> lock(mutex);
            error = writer.Error();
            return;
        }
        std::unique_lock<std::mutex> lock(mutex);
        if (stopping) {
            lock.unlock();
            if (!Drain()) {  // what arrived after the last look
                failed = true;
                std::lock_guard<std::mutex> again(mutex);
                error = writer.Error();
            }
            return;
        }
        stopRequested.wait_for(lock, kWriterPoll, [this] { return stopping; });
    }
}

bool StreamRecorder::Drain() {
    DatagramRing::Slot* batch[PcapWriter::kMostPerBatch];
    while (const std::size_t available = ring.Available()) {
        const std::size_t count = std::min(available, PcapWriter::kMostPerBatch);
        for (std::size_t i = 0; i < count; ++i) {
            batch[i] = ring.Peek(i);
        }
        const bool ok = writer.Write(batch, count);
        ring.Release(count);
        if (!ok) {
            return false;
        }
        written.store(written.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
    }
    return true;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

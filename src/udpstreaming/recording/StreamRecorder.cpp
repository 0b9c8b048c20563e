#include "udpstreaming/recording/StreamRecorder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <pthread.h>

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

// The description's path, which must not name the capture itself.
std::string DescriptionPath(const std::string& path, const RecordingOptions& options) {
    const std::string description = options.descriptionPath.empty()
                                        ? RecordingDescription::PathFor(path)
                                        : options.descriptionPath;
    if (StreamRecorder::SameFile(path, description)) {
        throw std::invalid_argument("Could not record to " + path + ": the description " +
                                    description +
                                    " would overwrite the capture; give the capture another "
                                    "name, such as one ending in .pcap");
    }
    return description;
}

std::size_t BufferDatagrams(const std::string& path, const RecordingOptions& options) {
    if (options.bufferDatagrams > StreamRecorder::kMostBufferDatagrams) {
        throw std::invalid_argument(
            "Could not record to " + path + ": a buffer of " +
            std::to_string(options.bufferDatagrams) + " datagrams is more than the " +
            std::to_string(StreamRecorder::kMostBufferDatagrams) + " allowed");
    }
    return std::max<std::size_t>(options.bufferDatagrams, 1);
}

}  // namespace

bool StreamRecorder::SameFile(const std::string& one, const std::string& other) {
    namespace fs = std::filesystem;
    std::error_code oneError, otherError, linkError;
    const fs::path oneCanonical = fs::weakly_canonical(one, oneError);
    const fs::path otherCanonical = fs::weakly_canonical(other, otherError);
    return (!oneError && !otherError && oneCanonical == otherCanonical) ||
           fs::equivalent(one, other, linkError);  // also through a hard link
}

// What the writer thread uses. A writer left behind by Stop keeps it alive until it ends.
struct StreamRecorder::Shared {
    Shared(const std::string& path, const RecordingOptions& options, uint16_t port)
        : port(port),
          path(path),
          descriptionPath(DescriptionPath(path, options)),
          sensor(ParseSensor(path, options.sensorDescription)),
          ring(BufferDatagrams(path, options)),
          writer(path, port),
          startMicroseconds(NowMicroseconds()) {}

    RecordingStatus Status() const {
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

    void WriteDescription(const std::optional<StreamStatistics>& counters) {
        RecordingDescription::Write(descriptionPath,
                                    RecordingDescription::Build(Status(), port, sensor, counters));
    }

    // Writes what the ring holds; false once writing has failed. Writer thread only.
    bool Drain() {
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
            written.store(written.load(std::memory_order_relaxed) + count,
                          std::memory_order_relaxed);
        }
        return true;
    }

    void DrainOrFail() {
        if (!failed && !Drain()) {
            failed = true;
            std::lock_guard<std::mutex> lock(mutex);
            if (error.empty()) {
                error = writer.Error();
            }
        }
    }

    // Closes the capture and writes the final description. Writer thread only.
    void Finish() {
        const bool closed = writer.Close();
        std::optional<StreamStatistics> finalCounters;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!closed && error.empty()) {
                error = writer.Error();
            }
            if (endMicroseconds == 0) {
                endMicroseconds = NowMicroseconds();
            }
            finalCounters = counters;
        }
        try {
            WriteDescription(finalCounters);
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> lock(mutex);
            error += (error.empty() ? "" : "; ") + std::string(e.what());
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        writerFinished.notify_all();
    }

    const uint16_t port;
    const std::string path;
    const std::string descriptionPath;
    const nlohmann::json sensor;
    DatagramRing ring;
    PcapWriter writer;  // writer thread only, but for Abandon
    const int64_t startMicroseconds;
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> dropped{0};  // worker only writes it
    std::atomic<bool> failed{false};   // writing has failed: Offer records nothing more
    mutable std::mutex mutex;          // guards the members below
    std::string error;
    int64_t endMicroseconds = 0;
    bool stopping = false;
    bool finished = false;  // the capture is closed and the description written
    std::optional<StreamStatistics> counters;
    std::condition_variable stopRequested;
    std::condition_variable writerFinished;
};

StreamRecorder::StreamRecorder(const std::string& path, const RecordingOptions& options,
                               uint16_t port)
    : shared(std::make_shared<Shared>(path, options, port)) {
    try {
        shared->WriteDescription(std::nullopt);
    } catch (const std::exception& e) {
        throw std::runtime_error("Could not record to " + path + ": " + e.what());
    }
    thread = std::thread(&StreamRecorder::Write, shared);
}

StreamRecorder::~StreamRecorder() {
    EndWriter(std::nullopt);
}

void StreamRecorder::Offer(const std::vector<uint8_t>& datagram,
                           const Transport::IUdpTransport::ReceiveInfo& info) {
    Shared& s = *shared;
    if (s.failed.load(std::memory_order_relaxed)) {
        return;
    }
    DatagramRing::Slot* slot = s.ring.Claim();
    if (slot == nullptr) {
        s.dropped.store(s.dropped.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
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
    s.ring.Publish();
}

RecordingStatus StreamRecorder::Status() const {
    return shared->Status();
}

RecordingStatus StreamRecorder::Stop(const StreamStatistics& counters) {
    EndWriter(counters);
    return Status();
}

void StreamRecorder::EndWriter(const std::optional<StreamStatistics>& counters) {
    Shared& s = *shared;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.stopping) {
            s.stopping = true;
            s.counters = counters;
        }
    }
    s.stopRequested.notify_all();
    if (!thread.joinable()) {
        return;
    }
    bool finished = false;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        finished = s.writerFinished.wait_for(lock, kStopLimit, [&] { return s.finished; });
        if (!finished) {
            if (s.error.empty()) {
                s.error = "Could not write " + s.path + ": writing did not finish within " +
                          std::to_string(kStopLimit.count()) +
                          " s of stopping (a stalled disk, or a pipe that nobody reads); the "
                          "recording is incomplete";
            }
            s.endMicroseconds = NowMicroseconds();
        }
    }
    if (finished) {
        thread.join();
        return;
    }
    s.failed = true;
    s.writer.Abandon();  // a wait for a pipe ends; a write the system holds finishes by itself
    thread.detach();
}

void StreamRecorder::Write(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
#if defined(__linux__)
    // The writer yields to the stream's worker when they share a core: the ring lets it catch
    // up later, while a late worker lets the socket's buffer overflow.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kWriterNice);
#endif
    // A pipe whose reader has gone fails the write (EPIPE) instead of ending the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    for (;;) {
        s.DrainOrFail();
        std::unique_lock<std::mutex> lock(s.mutex);
        if (s.stopping) {
            break;
        }
        if (s.failed) {
            s.stopRequested.wait(lock, [&] { return s.stopping; });
        } else {
            s.stopRequested.wait_for(lock, kWriterPoll, [&] { return s.stopping; });
        }
    }
    s.DrainOrFail();  // what arrived after the last look
    s.Finish();
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

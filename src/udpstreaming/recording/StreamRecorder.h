#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "quil/Quil.h"
#include "udpstreaming/recording/DatagramRing.h"
#include "udpstreaming/recording/PcapWriter.h"
#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// One recording of a stream: the stream's worker offers each datagram, a writer thread of the
// recorder's own writes them into the capture file.
//
// Threads: Offer runs on the stream's worker only and never waits: it copies the datagram into
// a free slot of the ring, or counts it as dropped when the ring is full. The writer thread
// looks into the ring every millisecond and writes what it finds, a batch per system call. When a
// write fails (the disk is full), the writer keeps the error, stops writing and lets further
// datagrams go unrecorded; the stream is not affected. Status may be called from any thread.
// Stop (any thread, once) lets the writer write what the ring holds, close the capture and write
// the description file; the caller must make sure Offer is not running and will not run again
// before calling it. A writer still busy kStopLimit after Stop (a stalled disk, a pipe nobody
// reads) is left to finish on its own, with what it shares; the recording then has failed.
class StreamRecorder {
public:
    static constexpr std::chrono::seconds kStopLimit{1};
    // RecordingOptions::bufferDatagrams at most: about 140 MB of hand-off.
    static constexpr std::size_t kMostBufferDatagrams = 65536;

    // Opens the capture and writes the description file.
    // @throws std::runtime_error "Could not record to <path>: <reason>"; std::invalid_argument
    //         "Could not record to <path>: <reason>" for options that cannot be met (a
    //         description that would overwrite the capture, a buffer beyond the limit), before
    //         any file is touched.
    StreamRecorder(const std::string& path, const RecordingOptions& options, uint16_t port);
    ~StreamRecorder();
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    void Offer(const std::vector<uint8_t>& datagram,
               const Transport::IUdpTransport::ReceiveInfo& info);
    RecordingStatus Status() const;
    // `counters`: the stream's counters at the end, for the description file.
    RecordingStatus Stop(const StreamStatistics& counters);

    // Whether the two paths name one file: the same path once resolved, or a hard link.
    static bool SameFile(const std::string& one, const std::string& other);

private:
    struct Shared;
    static void Write(std::shared_ptr<Shared> shared);  // the thread's own reference
    // Asks the writer to finish and waits for it up to kStopLimit; leaves it behind after that.
    void EndWriter(const std::optional<StreamStatistics>& counters);

    std::shared_ptr<Shared> shared;  // with the writer thread
    std::thread thread;              // last: starts once everything above exists
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

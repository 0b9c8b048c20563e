#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
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
// Stop (any thread, once) ends the writer after it has written what the ring holds, closes the
// capture and writes the description file; the caller must make sure Offer is not running and
// will not run again before calling it.
class StreamRecorder {
public:
    // Opens the capture and writes the description file.
    // @throws std::runtime_error "Could not record to <path>: <reason>".
    StreamRecorder(const std::string& path, const RecordingOptions& options, uint16_t port);
    ~StreamRecorder();
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    void Offer(const std::vector<uint8_t>& datagram,
               const Transport::IUdpTransport::ReceiveInfo& info);
    RecordingStatus Status() const;
    // `counters`: the stream's counters at the end, for the description file.
    RecordingStatus Stop(const StreamStatistics& counters);

private:
    void Write();
    // Writes what the ring holds; false once writing has failed.
    bool Drain();

    const uint16_t port;
    const std::string path;
    const std::string descriptionPath;
    nlohmann::json sensor;
    DatagramRing ring;
    PcapWriter writer;  // writer thread only, until Stop joins it
    const int64_t startMicroseconds;
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> dropped{0};  // worker only writes it
    std::atomic<bool> failed{false};   // writing has failed: Offer records nothing more
    mutable std::mutex mutex;          // guards error, endMicroseconds and stopping
    std::string error;
    int64_t endMicroseconds = 0;
    bool stopping = false;
    std::condition_variable stopRequested;
    std::thread thread;  // last: starts once everything above exists
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

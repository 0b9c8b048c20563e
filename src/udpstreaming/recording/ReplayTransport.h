#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <quil/ReplayPace.h>
#include "quil/Quil.h"
#include "udpstreaming/recording/PcapDatagramReader.h"
#include "udpstreaming/transport/IUdpTransport.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

// A transport whose datagrams come from a capture file instead of a socket, so that the stream
// (QuilStreamApi) replays a recording through its own reassembly, decoding and queues.
//
// Pacing (ReplayPace): the first datagram goes out when first asked for; each later one when its
// distance in capture time from that first one, divided by the speed, has passed. A replay that
// falls more than kResync behind (the stream was stopped for a while) starts its clock again at
// the datagram in hand instead of rushing. Speed 0 hands datagrams out as fast as they are asked
// for; any other speed lies within ReplayPace's range.
//
// Looping, each pass continues the block ids where the last one ended (as a sensor that kept
// streaming would), so that the stream sees no jump back at the seam.
//
// Threads: ReceiveDatagram runs on the stream's worker; Close, Interrupt, Statistics and
// WaitUntilFinished on any thread. A wait inside ReceiveDatagram ends at once on Close and
// Interrupt.
class ReplayTransport : public Transport::IUdpTransport {
public:
    static constexpr std::chrono::milliseconds kReceiveWait{1000};
    static constexpr std::chrono::milliseconds kResync{200};
    // As fast as possible, readers are woken after this many datagrams at the latest.
    static constexpr std::size_t kRun = 128;

    // @throws std::invalid_argument "Replay speed <speed> is out of range: 0 (as fast as
    //         possible) or 0.001 to 1000".
    ReplayTransport(std::unique_ptr<PcapDatagramReader> reader, const ReplayOptions& options);

    std::string GetHost() override { return {}; }
    uint16_t GetPort() override;
    bool IsOpen() override;
    void Open() override {}
    void Close() override;
    void Interrupt() override;
    // A recording has no receive buffer: 0, and setting one fails with "set_option: ...".
    int GetReceiveBufferSize() override { return 0; }
    void SetReceiveBufferSize(const int& bytes) override;
    // @throws std::runtime_error when the capture is damaged; the stream files it as its error.
    bool ReceiveDatagram(std::vector<uint8_t>& datagram, ReceiveInfo& info) override;

    ReplayStatistics Statistics();
    bool WaitUntilFinished(std::chrono::milliseconds timeout);

private:
    using Clock = std::chrono::steady_clock;

    // Makes `pending` hold the next datagram; false at the end (or on a failure, thrown).
    bool LoadNext(std::unique_lock<std::mutex>& lock);

    std::unique_ptr<PcapDatagramReader> reader;
    const double speed;
    const bool loop;
    std::mutex mutex;
    std::condition_variable changed;  // closed, interrupted, finished
    bool closed = false;
    bool interrupted = false;  // the next wait, or the one in progress, ends at once
    bool endReached = false;   // the capture has no further datagram
    bool finished = false;     // and a reception since has told the stream so
    std::string error;
    uint64_t passes = 0;
    bool foundThisPass = false;
    // Block ids of the first pass, and what each later pass adds to them.
    std::optional<uint32_t> firstBlockId;
    uint32_t highestBlockId = 0;
    uint32_t blockIdOffset = 0;
    uint64_t replayed = 0;
    bool hasPending = false;
    RecordedDatagram pending;
    std::optional<ReplayPace> pace;  // none: as fast as possible
    std::size_t sinceWake = 0;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

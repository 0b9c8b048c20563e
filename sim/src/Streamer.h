#pragma once

#include "Acquisition.h"

#include <quil/sim/Faults.h>
#include <quil/sim/Packets.h>
#include <quil/sim/RecordedStream.h>
#include <quil/sim/Scene.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Varkon::QUILApi::Sim {

/// Where the UDP output goes and what it carries; inactive without an address, a port or ids.
struct StreamTarget {
    std::string address;
    uint16_t port = 0;
    std::vector<uint8_t> dataIds;

    bool Active() const { return !address.empty() && port != 0 && !dataIds.empty(); }
    bool operator==(const StreamTarget& other) const {
        return address == other.address && port == other.port && dataIds == other.dataIds;
    }
};

/// The sensor's acquisition loop: on its own thread it asks for the acquisitions that are due,
/// and while the UDP output is on, sends every one as one block per selected data id, with
/// consecutive block ids, through the datagram faults.
///
/// With a recorded stream, it sends the recording's datagrams instead, as they were recorded
/// and at the recorded pace, while the UDP output is on (whatever data ids it selects); the pace
/// starts again whenever the output is switched on. At the end it starts again from the first
/// datagram when `loop` is set, its block ids continuing where the last pass ended, and
/// otherwise sends nothing more.
class Streamer {
public:
    struct Work {
        std::vector<Acquisition::Stamp> due;
        double rate = 0.0;
        CaptureSettings capture;
        StreamTarget target;
        std::optional<uint64_t> nextDueUs;  // sensor time of the next acquisition
    };
    /// Called on the streamer's thread with the sensor time in microseconds.
    using Poll = std::function<Work(uint64_t nowUs)>;
    using Log = std::function<void(const std::string&)>;

    /// Sends from `address` (IPv4).
    /// @throws boost's system_error when no socket can be bound to the address.
    /// Its clock starts at `startUs`.
    Streamer(const std::string& address, uint64_t startUs, const Scene& scene, Faults& faults,
             Poll poll, Log log, std::shared_ptr<RecordedStream> recording = {}, bool loop = false);
    ~Streamer();
    Streamer(const Streamer&) = delete;
    Streamer& operator=(const Streamer&) = delete;

    /// Polls at once: settings changed or triggers were fired.
    void Wake();
    /// The sensor time: microseconds since 1970 by this host's clock when the streamer started,
    /// counted on by a steady clock from there, so that it never steps.
    uint64_t NowUs() const;
    uint64_t BlocksSent() const { return blocks; }
    InjectedFaults Injected() const {
        return {lost.load(), duplicated.load(), reordered.load(), truncated.load()};
    }

private:
    void Run();
    // Sends the recorded datagrams that are due; returns when the next one is due, if any.
    std::optional<uint64_t> SendRecorded();
    // Adds the block id offset of this pass to a recorded datagram's block id.
    void ContinueBlockIds(Bytes& datagram);
    void Follow(const StreamTarget& target);
    void Send(const Bytes& datagram, const StreamTarget& target);
    void Transmit(const Bytes& datagram, const StreamTarget& target);

    const uint64_t startUs;  // the sensor time at `start`
    const Scene& scene;
    Faults& faults;
    Poll poll;
    Log log;
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    std::mutex mutex;
    std::condition_variable wake;
    bool woken = false;
    bool stopping = false;

    std::shared_ptr<RecordedStream> recording;
    const bool loop;
    RecordedStream::Datagram recorded;  // the next recorded datagram, when `recordedHeld`
    bool recordedHeld = false;
    bool recordedInPass = false;  // a datagram came since the last start from the beginning
    bool recordingEnded = false;
    std::optional<std::pair<uint64_t, int64_t>> paceOrigin;  // sensor time, recorded time
    std::optional<uint32_t> firstRecordedBlockId;            // of the first pass
    uint32_t highestRecordedBlockId = 0;
    uint32_t recordedBlockIdOffset = 0;  // added to the ids of this pass

    StreamTarget current;
    std::optional<Bytes> held;  // a datagram held back to be sent out of order
    uint32_t nextBlockId = 1;
    std::atomic<uint64_t> blocks{0};
    std::atomic<uint64_t> lost{0};
    std::atomic<uint64_t> duplicated{0};
    std::atomic<uint64_t> reordered{0};
    std::atomic<uint64_t> truncated{0};
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket{context};
    std::thread thread;
};

}  // namespace Varkon::QUILApi::Sim

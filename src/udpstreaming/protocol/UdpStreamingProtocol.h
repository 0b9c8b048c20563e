#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/StreamCounters.h"
#include "udpstreaming/protocol/FragmentedPacketHandler.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {

// Turns datagrams into blocks: checks the packet header, passes whole blocks on, reassembles
// fragmented ones, checks the sequence of block ids, and reports blocks and problems through
// two callbacks. Counts what it rejects, loses and times out. Used from one thread; the
// callbacks run inside HandlePacket.
class UdpStreamingProtocol {
public:
    // `payload` lives until the callback returns, which tells whether the block is one of the
    // stream's (a known data id that decodes). Only such a block moves the sequence of block
    // ids, so that datagrams of anything else cannot make blocks look lost.
    using DataCallback =
        std::function<bool(const uint32_t blockId, const std::vector<uint8_t>& payload)>;
    using ErrorCallback =
        std::function<void(const uint32_t blockId, PacketErrorType type, std::string message)>;
    // Monotonic time in nanoseconds; replaceable so that time-outs can be tested.
    using Clock = std::function<int64_t()>;

    // Most blocks reassembled at once; a further one makes the oldest time out.
    static constexpr std::size_t kMaxFragmentHandlers = 64;
    // Most memory that blocks still being reassembled take together; beyond it the oldest are
    // dropped and counted as timed out, as a block beyond kMaxFragmentHandlers is. A profile
    // block is some tens of kilobytes.
    static constexpr std::size_t kMaxHeldBytes = 32 * 1024 * 1024;
    // Spent handlers kept to collect later blocks in, and the most memory each may keep: a
    // stream's fragmented blocks follow one another, so a few spares spare every allocation.
    static constexpr std::size_t kSpareHandlers = 4;
    static constexpr std::size_t kMaxSpareBytes = 1024 * 1024;
    // A block id further than this from the last one, ahead or behind, does not follow it: the
    // ids started again (a sensor that restarted), and the block starts a new sequence instead
    // of counting every id in between as lost (or itself as late).
    static constexpr uint32_t kMaxBlockIdJump = 65536;

    UdpStreamingProtocol();
    explicit UdpStreamingProtocol(Clock clock);
    virtual ~UdpStreamingProtocol() = default;

    void SetDataCallback(DataCallback callback) { dataCallback = std::move(callback); }
    void SetErrorCallback(ErrorCallback callback) { errorCallback = std::move(callback); }
    // Counts into `shared` (which must outlive the protocol) instead of counters of its own.
    void SetCounters(StreamCounters& shared) { counters = &shared; }

    void HandlePacket(const std::vector<uint8_t>& packet);

    // Reports a block id that does not follow the last one; never stops the block.
    void CheckBlockId(uint32_t blockId);

    // Drops the blocks whose time is up, reporting each; HandlePacket does it after every
    // datagram, a receiver also when none came for a while.
    void DropTimedOut();
    // Memory held by blocks still being reassembled.
    std::size_t HeldBytes() const { return heldBytes; }

private:
    void StartBlock(const std::vector<uint8_t>& packet);
    void AddFragment(const std::vector<uint8_t>& packet);
    // Drops the oldest blocks, reporting them, while they hold more than kMaxHeldBytes.
    void DropBeyondMemoryLimit();
    using Handlers = std::vector<std::unique_ptr<FragmentedPacketHandler>>;
    // A handler collecting the block that `packet` starts: a spare one where there is one.
    std::unique_ptr<FragmentedPacketHandler> NewHandler(const std::vector<uint8_t>& packet);
    // Takes a block out of the collection, complete or not.
    std::unique_ptr<FragmentedPacketHandler> Remove(Handlers::iterator handler);
    // Keeps a handler that is done with its block as a spare, unless there are enough.
    void Recycle(std::unique_ptr<FragmentedPacketHandler> handler);
    void ReportTimeout(const FragmentedPacketHandler& handler);
    void Deliver(uint32_t blockId, const std::vector<uint8_t>& payload);
    void Report(uint32_t blockId, PacketErrorType type, std::string message);

    DataCallback dataCallback;
    ErrorCallback errorCallback;
    uint32_t lastBlockId{};
    Handlers fragmentHandlers;  // oldest first
    Handlers spareHandlers;
    std::size_t heldBytes{};          // the sum of their HeldBytes
    std::vector<uint8_t> wholeBlock;  // the payload of the last whole block, its room kept
    Clock clock;
    StreamCounters ownCounters;
    StreamCounters* counters = &ownCounters;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

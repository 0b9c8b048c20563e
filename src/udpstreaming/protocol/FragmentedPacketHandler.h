#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming::Protocol {

// Collects the frames of one fragmented block, from its first fragment (packet kind 1) on.
//
// Each frame index counts once, however often its packet arrives and whether or not it carries
// bytes, so a block never completes with a frame missing. Frames are appended to one buffer in
// arrival order; when they arrived in index order, that buffer already is the block. A spent
// handler can collect a next block (Restart) in the room the earlier ones left.
class FragmentedPacketHandler {
public:
    static constexpr uint32_t kTimeoutMs = 1000;

    // Monotonic clock reading in nanoseconds. It is read for nearly every datagram and only ever
    // compared with a time-out of a second, so on Linux it is the coarse clock (a few
    // milliseconds' resolution), which costs a fraction of the precise one.
    static int64_t Now();

    // `packet` is the whole first fragment, header included.
    explicit FragmentedPacketHandler(const std::vector<uint8_t>& packet);
    FragmentedPacketHandler(const std::vector<uint8_t>& packet, int64_t startTimeNs);
    virtual ~FragmentedPacketHandler() = default;
    // Forgets the block it held and collects the one that `packet` starts, keeping its buffers.
    void Restart(const std::vector<uint8_t>& packet, int64_t startTimeNs);

    uint32_t GetBlockId() const { return blockId; }
    // Offers a further fragment (packet kind 2); true when no frame is missing any more.
    bool AddFrame(const std::vector<uint8_t>& packet);
    // Whether no frame is missing: at once for a block announced with one frame.
    bool IsComplete() const { return remaining == 0; }
    // The frames concatenated in index order.
    std::vector<uint8_t> GetData() const;
    // Like GetData, but hands over the collected bytes; the handler is spent afterwards.
    std::vector<uint8_t> TakeData();
    // Like GetData, without a copy: valid until the next Restart; the handler is spent.
    const std::vector<uint8_t>& Block();
    uint32_t GetTimeout() const { return timeoutMs; }
    // The memory the collected block takes, in bytes.
    std::size_t HeldBytes() const {
        return bytes.capacity() + reordered.capacity() + frames.capacity() * sizeof(Frame) +
               received.capacity() / 8;
    }
    // Whether more than the time limit has passed since creation.
    bool IsTimedOut() const { return IsTimedOut(Now()); }
    bool IsTimedOut(int64_t nowNs) const;

private:
    struct Frame {
        uint32_t index;
        uint32_t offset;  // in bytes
        uint32_t size;
    };

    void Store(uint32_t index, const std::vector<uint8_t>& packet);
    // Writes the frames in index order into `data`.
    void Ordered(std::vector<uint8_t>& data) const;

    uint32_t blockId{};
    uint32_t remaining{};  // frames still missing
    int64_t startTime{};
    uint32_t timeoutMs{kTimeoutMs};
    std::vector<bool> received;      // per frame index
    std::vector<Frame> frames;       // in arrival order
    std::vector<uint8_t> bytes;      // frame payloads in arrival order
    std::vector<uint8_t> reordered;  // room for Block to order them in
    bool inIndexOrder{true};
};

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

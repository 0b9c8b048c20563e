#include "udpstreaming/protocol/FragmentedPacketHandler.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "udpstreaming/protocol/PacketFormat.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {

namespace {

// Room reserved up front for the frames of a block: enough for the usual blocks of a few frames,
// small enough that a flood of first fragments announcing many frames costs little.
constexpr std::size_t kReservedFrames = 16;

}  // namespace

int64_t FragmentedPacketHandler::Now() {
#if defined(__linux__)
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
#else
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

FragmentedPacketHandler::FragmentedPacketHandler(const std::vector<uint8_t>& packet)
    : FragmentedPacketHandler(packet, Now()) {}

FragmentedPacketHandler::FragmentedPacketHandler(const std::vector<uint8_t>& packet,
                                                 int64_t startTimeNs) {
    Restart(packet, startTimeNs);
}

void FragmentedPacketHandler::Restart(const std::vector<uint8_t>& packet, int64_t startTimeNs) {
    startTime = startTimeNs;
    blockId = 0;
    received.clear();
    frames.clear();
    bytes.clear();
    inIndexOrder = true;
    if (packet.size() < PacketHeader::kSize) {
        remaining = ~0u;  // without a frame count the block can only time out
        return;
    }
    blockId = PacketHeader::BlockId(packet);
    const uint16_t frameCount = PacketHeader::FrameNumber(packet);
    remaining = static_cast<uint32_t>(frameCount) - 1u;
    if (frameCount == 0) {
        return;
    }
    received.resize(frameCount);
    const std::size_t reserved = std::min<std::size_t>(frameCount, kReservedFrames);
    frames.reserve(reserved);
    bytes.reserve(reserved * (packet.size() - PacketHeader::kSize));
    Store(0, packet);
}

bool FragmentedPacketHandler::AddFrame(const std::vector<uint8_t>& packet) {
    if (packet.size() < PacketHeader::kSize || PacketHeader::BlockId(packet) != blockId) {
        return false;
    }
    const uint16_t index = PacketHeader::FrameNumber(packet);
    if (index < received.size() && !received[index]) {
        Store(index, packet);
        --remaining;
    }
    return remaining == 0;
}

void FragmentedPacketHandler::Store(uint32_t index, const std::vector<uint8_t>& packet) {
    received[index] = true;
    inIndexOrder = inIndexOrder && (frames.empty() || frames.back().index < index);
    const auto size = static_cast<uint32_t>(packet.size() - PacketHeader::kSize);
    frames.push_back(Frame{index, static_cast<uint32_t>(bytes.size()), size});
    bytes.insert(bytes.end(), packet.begin() + PacketHeader::kSize, packet.end());
}

std::vector<uint8_t> FragmentedPacketHandler::GetData() const {
    if (inIndexOrder) {
        return bytes;
    }
    std::vector<uint8_t> data;
    Ordered(data);
    return data;
}

std::vector<uint8_t> FragmentedPacketHandler::TakeData() {
    Block();
    return std::move(bytes);
}

const std::vector<uint8_t>& FragmentedPacketHandler::Block() {
    if (!inIndexOrder) {
        Ordered(reordered);
        bytes.swap(reordered);
        inIndexOrder = true;
    }
    return bytes;
}

void FragmentedPacketHandler::Ordered(std::vector<uint8_t>& data) const {
    std::vector<Frame> ordered = frames;
    std::sort(ordered.begin(), ordered.end(),
              [](const Frame& a, const Frame& b) { return a.index < b.index; });
    data.clear();
    data.reserve(bytes.size());
    for (const Frame& frame : ordered) {
        data.insert(data.end(), bytes.begin() + frame.offset,
                    bytes.begin() + frame.offset + frame.size);
    }
}

bool FragmentedPacketHandler::IsTimedOut(int64_t nowNs) const {
    const double elapsedMs = static_cast<double>(nowNs - startTime) / 1000000.0;
    return elapsedMs > timeoutMs;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

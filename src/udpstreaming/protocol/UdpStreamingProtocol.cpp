#include "udpstreaming/protocol/UdpStreamingProtocol.h"

#include <algorithm>

#include "udpstreaming/protocol/PacketFormat.h"

namespace Varkon::QUILApi::UdpStreaming::Protocol {

UdpStreamingProtocol::UdpStreamingProtocol()
    : UdpStreamingProtocol(&FragmentedPacketHandler::Now) {}

UdpStreamingProtocol::UdpStreamingProtocol(Clock clock) : clock(std::move(clock)) {}

void UdpStreamingProtocol::HandlePacket(const std::vector<uint8_t>& packet) {
    if (packet.empty()) {
        counters->Add<&StreamStatistics::datagramsTooShort>();
        Report(0, InvalidPacket, "Packet is null.");
        return;
    }
    if (packet.size() < PacketHeader::kSize) {
        counters->Add<&StreamStatistics::datagramsTooShort>();
        Report(0, InvalidPacket, "Packet size is " + std::to_string(packet.size()) + " bytes.");
        return;
    }
    switch (PacketHeader::Kind(packet)) {
        case kWholeBlock:
            wholeBlock.assign(packet.begin() + PacketHeader::kSize, packet.end());
            Deliver(PacketHeader::BlockId(packet), wholeBlock);
            break;
        case kFirstFragment:
            StartBlock(packet);
            break;
        case kFragment:
            AddFragment(packet);
            break;
        default:
            counters->Add<&StreamStatistics::datagramsUnknownKind>();
            break;
    }
    DropTimedOut();
}

void UdpStreamingProtocol::StartBlock(const std::vector<uint8_t>& packet) {
    if (fragmentHandlers.size() >= kMaxFragmentHandlers) {
        ReportTimeout(*Remove(fragmentHandlers.begin()));
    }
    auto handler = NewHandler(packet);
    if (handler->IsComplete()) {  // a block of one frame, sent as a fragment
        Deliver(handler->GetBlockId(), handler->Block());
        Recycle(std::move(handler));
        return;
    }
    heldBytes += handler->HeldBytes();
    fragmentHandlers.push_back(std::move(handler));
    DropBeyondMemoryLimit();
}

std::unique_ptr<FragmentedPacketHandler> UdpStreamingProtocol::NewHandler(
    const std::vector<uint8_t>& packet) {
    if (spareHandlers.empty()) {
        return std::make_unique<FragmentedPacketHandler>(packet, clock());
    }
    auto handler = std::move(spareHandlers.back());
    spareHandlers.pop_back();
    handler->Restart(packet, clock());
    return handler;
}

void UdpStreamingProtocol::Recycle(std::unique_ptr<FragmentedPacketHandler> handler) {
    if (spareHandlers.size() < kSpareHandlers && handler->HeldBytes() <= kMaxSpareBytes) {
        spareHandlers.push_back(std::move(handler));
    }
}

void UdpStreamingProtocol::AddFragment(const std::vector<uint8_t>& packet) {
    const uint32_t blockId = PacketHeader::BlockId(packet);
    const auto found =
        std::find_if(fragmentHandlers.begin(), fragmentHandlers.end(),
                     [blockId](const auto& h) { return h->GetBlockId() == blockId; });
    if (found == fragmentHandlers.end()) {
        return;
    }
    FragmentedPacketHandler& handler = **found;
    const std::size_t before = handler.HeldBytes();
    const bool complete = handler.AddFrame(packet);
    heldBytes += handler.HeldBytes() - before;  // it never shrinks while collecting
    if (complete) {
        auto whole = Remove(found);
        Deliver(whole->GetBlockId(), whole->Block());
        Recycle(std::move(whole));
        return;
    }
    DropBeyondMemoryLimit();
}

void UdpStreamingProtocol::DropBeyondMemoryLimit() {
    while (heldBytes > kMaxHeldBytes && !fragmentHandlers.empty()) {
        ReportTimeout(*Remove(fragmentHandlers.begin()));
    }
}

std::unique_ptr<FragmentedPacketHandler> UdpStreamingProtocol::Remove(Handlers::iterator handler) {
    std::unique_ptr<FragmentedPacketHandler> removed = std::move(*handler);
    heldBytes -= removed->HeldBytes();
    fragmentHandlers.erase(handler);
    return removed;
}

void UdpStreamingProtocol::DropTimedOut() {
    if (fragmentHandlers.empty()) {
        return;
    }
    const int64_t now = clock();
    const auto timedOut =
        std::stable_partition(fragmentHandlers.begin(), fragmentHandlers.end(),
                              [now](const auto& h) { return !h->IsTimedOut(now); });
    for (auto handler = timedOut; handler != fragmentHandlers.end(); ++handler) {
        heldBytes -= (*handler)->HeldBytes();
        ReportTimeout(**handler);
    }
    fragmentHandlers.erase(timedOut, fragmentHandlers.end());
}

void UdpStreamingProtocol::ReportTimeout(const FragmentedPacketHandler& handler) {
    counters->Add<&StreamStatistics::fragmentedBlocksTimedOut>();
    Report(handler.GetBlockId(), FragmentTimeout,
           "Didn't receive all consecutive frames within " + std::to_string(handler.GetTimeout()) +
               " ms.");
}

void UdpStreamingProtocol::Deliver(uint32_t blockId, const std::vector<uint8_t>& payload) {
    const bool ofTheStream = !dataCallback || dataCallback(blockId, payload);
    if (ofTheStream) {
        CheckBlockId(blockId);
    } else if (lastBlockId != 0 && blockId == lastBlockId + 1u) {
        // A block in its place that could not be used did arrive: it is counted as what it was
        // (not decodable, an unknown data id), not as lost. Junk elsewhere moves nothing.
        lastBlockId = blockId;
    }
}

void UdpStreamingProtocol::CheckBlockId(uint32_t blockId) {
    const uint32_t expected = lastBlockId + 1u;
    // Distances modulo 2^32, so that the ids may wrap.
    const uint32_t ahead = blockId - expected;
    const uint32_t behind = lastBlockId - blockId;
    if (lastBlockId == 0 || blockId == expected) {
        lastBlockId = blockId;
    } else if (ahead >= kMaxBlockIdJump && behind > kMaxBlockIdJump) {
        counters->Add<&StreamStatistics::blockIdRestarts>();
        Report(blockId, UnexpectedBlockId,
               "Block ids started again: received blockid " + std::to_string(blockId) + " after " +
                   std::to_string(lastBlockId) + ".");
        lastBlockId = blockId;
    } else if (blockId == lastBlockId) {
        counters->Add<&StreamStatistics::blocksDuplicated>();
        Report(blockId, DuplicateBlockId,
               "Received packet with blockid " + std::to_string(lastBlockId) + " twice.");
    } else if (ahead < kMaxBlockIdJump) {
        counters->Add<&StreamStatistics::blocksLost>(ahead);
        Report(blockId, PacketsLost,
               "One or more packets lost: Last received blockid was " +
                   std::to_string(lastBlockId) + ", received " + std::to_string(blockId) + ".");
        lastBlockId = blockId;
    } else {
        counters->Add<&StreamStatistics::blocksOutOfOrder>();
        Report(blockId, UnexpectedBlockId,
               "Received packet with blockid " + std::to_string(blockId) + ", expected " +
                   std::to_string(expected) + ".");
    }
}

void UdpStreamingProtocol::Report(uint32_t blockId, PacketErrorType type, std::string message) {
    if (errorCallback) {
        errorCallback(blockId, type, std::move(message));
    }
}

}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

#include "udpstreaming/recording/ReplayTransport.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "udpstreaming/protocol/PacketFormat.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

ReplayTransport::ReplayTransport(std::unique_ptr<PcapDatagramReader> reader,
                                 const ReplayOptions& options)
    : reader(std::move(reader)), speed(options.speed), loop(options.loop) {
    if (speed != ReplayOptions::kAsFastAsPossible) {
        if (!ReplayPace::Allowed(speed)) {
            std::ostringstream text;
            text << "Replay speed " << speed
                 << " is out of range: " << ReplayOptions::kAsFastAsPossible
                 << " (as fast as possible) or " << ReplayPace::RangeText();
            throw std::invalid_argument(text.str());
        }
        pace.emplace(speed);
    }
}

uint16_t ReplayTransport::GetPort() {
    std::lock_guard<std::mutex> lock(mutex);
    return reader->GetPort();
}

bool ReplayTransport::IsOpen() {
    std::lock_guard<std::mutex> lock(mutex);
    return !closed;
}

void ReplayTransport::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    changed.notify_all();
}

void ReplayTransport::Interrupt() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        interrupted = true;
    }
    changed.notify_all();
}

void ReplayTransport::SetReceiveBufferSize(const int&) {
    throw boost::system::system_error(boost::asio::error::operation_not_supported, "set_option");
}

bool ReplayTransport::ReceiveDatagram(std::vector<uint8_t>& datagram, ReceiveInfo& info) {
    info = {};
    std::unique_lock<std::mutex> lock(mutex);
    if (endReached && !finished) {
        // The reception before this one said there was nothing more, and the stream has filed
        // what the last datagram held: only now is the replay finished for those who wait.
        finished = true;
        changed.notify_all();
    }
    if (closed || (finished && !hasPending)) {
        // Nothing more comes; keep the caller's pace as a silent socket would, until closed.
        const bool wasClosed = closed;
        changed.wait_for(lock, kReceiveWait, [&] { return (closed && !wasClosed) || interrupted; });
        interrupted = false;
        return false;
    }
    if (!hasPending && !LoadNext(lock)) {
        return false;
    }
    if (pace) {
        const auto now = Clock::now();
        auto due = pace->Due(pending.timeNanoseconds, now);
        if (now - due > kResync) {
            pace->Restart(pending.timeNanoseconds, now);
            due = now;
        }
        if (due > now) {
            changed.wait_until(lock, std::min(due, now + kReceiveWait),
                               [this] { return closed || interrupted; });
            if (closed || interrupted || Clock::now() < due) {
                interrupted = false;
                return false;  // asked again soon
            }
        }
    }
    info.truncated = pending.bytes.size() > Protocol::kMaxDatagramSize ||
                     pending.wireSize > pending.bytes.size();
    info.senderAddress = pending.senderAddress;
    info.senderPort = pending.senderPort;
    info.receiverAddress = pending.receiverAddress;
    info.arrivalMicroseconds = pending.timeNanoseconds / 1000;
    info.wireSize = std::max(pending.wireSize, pending.bytes.size());
    if (pending.bytes.size() >= Protocol::PacketHeader::kSize) {
        uint32_t blockId = Protocol::PacketHeader::BlockId(pending.bytes);
        if (passes == 0) {
            firstBlockId = firstBlockId.value_or(blockId);
            highestBlockId = std::max(highestBlockId, blockId);
        }
        blockId += blockIdOffset;
        for (std::size_t i = 0; i < 4; ++i) {
            pending.bytes[Protocol::PacketHeader::kBlockId + i] =
                static_cast<uint8_t>(blockId >> (8 * i));
        }
    }
    // The buffers change hands instead of the bytes being copied; like a socket, the transport
    // hands out no more than the largest datagram.
    datagram.swap(pending.bytes);
    if (datagram.size() > Protocol::kMaxDatagramSize) {
        datagram.resize(Protocol::kMaxDatagramSize);
    }
    // As fast as possible, readers are woken once per run, as for datagrams that arrive
    // together; at a recorded pace, after each.
    info.more = speed == 0 && ++sinceWake % kRun != 0;
    hasPending = false;
    ++replayed;
    return true;
}

bool ReplayTransport::LoadNext(std::unique_lock<std::mutex>&) {
    try {
        for (;;) {
            if (reader->Next(pending)) {
                hasPending = true;
                foundThisPass = true;
                return true;
            }
            ++passes;
            if (!loop || !foundThisPass) {  // a capture without a datagram would loop idly
                endReached = true;
                return false;
            }
            reader->Rewind();
            foundThisPass = false;
            if (pace) {
                pace->Forget();
            }
            if (firstBlockId) {
                blockIdOffset += highestBlockId - *firstBlockId + 1;
            }
        }
    } catch (const std::exception& e) {
        error = e.what();
        finished = true;
        changed.notify_all();
        throw;
    }
}

ReplayStatistics ReplayTransport::Statistics() {
    std::lock_guard<std::mutex> lock(mutex);
    ReplayStatistics statistics = reader->Statistics();
    statistics.datagramsReplayed = replayed;
    statistics.passes = passes;
    statistics.finished = finished && !hasPending;
    statistics.error = error;
    return statistics;
}

bool ReplayTransport::WaitUntilFinished(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return finished && !hasPending; });
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

#include "Streamer.h"

#include <algorithm>

#include <boost/asio/ip/udp.hpp>

#include <fcntl.h>

namespace Varkon::QUILApi::Sim {

namespace {

// The longest sleep between polls, so that settings changes are seen without a wake-up too.
constexpr auto kMaxSleep = std::chrono::milliseconds(50);

std::string Describe(const StreamTarget& target) {
    std::string ids;
    for (uint8_t id : target.dataIds) {
        ids += (ids.empty() ? "" : ",") + std::to_string(id);
    }
    return target.address + ":" + std::to_string(target.port) + ", data ids " + ids;
}

}  // namespace

Streamer::Streamer(const std::string& address, uint64_t startUs, const Scene& scene, Faults& faults,
                   Poll poll, Log log, std::shared_ptr<RecordedStream> recording, bool loop)
    : startUs(startUs),
      scene(scene),
      faults(faults),
      poll(std::move(poll)),
      log(std::move(log)),
      recording(std::move(recording)),
      loop(loop) {
    // From the address the sensor serves on, as a sensor sends: receivers that filter by
    // sender, and captures, see the sensor's address.
    socket.open(boost::asio::ip::udp::v4());
    ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
    socket.bind({boost::asio::ip::make_address_v4(address), 0});
    thread = std::thread([this] { Run(); });
}

Streamer::~Streamer() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

void Streamer::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        woken = true;
    }
    wake.notify_all();
}

uint64_t Streamer::NowUs() const {
    return startUs + static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count());
}

void Streamer::Run() {
    for (;;) {
        Work work = poll(NowUs());
        Follow(work.target);
        if (recording) {
            work.nextDueUs = current.Active() ? SendRecorded() : std::nullopt;
        } else if (current.Active()) {
            for (const auto& stamp : work.due) {
                const Acquired acquired =
                    scene.Capture(stamp.index, stamp.timeUs, work.rate, work.capture);
                for (uint8_t id : current.dataIds) {
                    const Bytes payload =
                        id == 0 ? MeasurementPayload(acquired) : ProfilePayload(acquired, id);
                    for (const auto& datagram : Datagrams(nextBlockId, payload)) {
                        Send(datagram, current);
                    }
                    ++nextBlockId;
                    ++blocks;
                }
            }
        }

        auto until = std::chrono::steady_clock::now() + kMaxSleep;
        if (work.nextDueUs) {
            const uint64_t dueAfter = *work.nextDueUs > startUs ? *work.nextDueUs - startUs : 0;
            until = std::min(until, start + std::chrono::microseconds(dueAfter));
        }
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_until(lock, until, [this] { return woken || stopping; });
        if (stopping) {
            return;
        }
        woken = false;
    }
}

void Streamer::ContinueBlockIds(Bytes& datagram) {
    if (datagram.size() < PacketLayout::kSize) {
        return;
    }
    uint32_t blockId = 0;
    for (std::size_t i = 4; i-- > 0;) {
        blockId = (blockId << 8) | datagram[PacketLayout::kBlockId + i];
    }
    if (recordedBlockIdOffset == 0) {  // the first pass
        firstRecordedBlockId = firstRecordedBlockId.value_or(blockId);
        highestRecordedBlockId = std::max(highestRecordedBlockId, blockId);
    }
    PutLittleEndian(datagram, PacketLayout::kBlockId, blockId + recordedBlockIdOffset);
}

std::optional<uint64_t> Streamer::SendRecorded() {
    const uint64_t now = NowUs();
    while (!recordingEnded) {
        if (!recordedHeld) {
            if (recording->Next(recorded)) {
                recordedHeld = recordedInPass = true;
                ContinueBlockIds(recorded.bytes);
            } else if (loop && recordedInPass) {
                recording->Rewind();
                recordedInPass = false;
                paceOrigin.reset();
                if (firstRecordedBlockId) {
                    recordedBlockIdOffset += highestRecordedBlockId - *firstRecordedBlockId + 1;
                }
                continue;
            } else {
                recordingEnded = true;
                if (log) {
                    log("recording sent to its end");
                }
                break;
            }
        }
        if (!paceOrigin) {
            paceOrigin = {now, recorded.timeUs};
        }
        const int64_t offset = std::max<int64_t>(recorded.timeUs - paceOrigin->second, 0);
        const uint64_t due = paceOrigin->first + static_cast<uint64_t>(offset);
        if (due > now) {
            return due;
        }
        Send(recorded.bytes, current);
        if (recorded.bytes.size() > PacketLayout::kKind &&
            recorded.bytes[PacketLayout::kKind] != PacketLayout::kFragment) {  // a block begins
            ++blocks;
        }
        recordedHeld = false;
    }
    return std::nullopt;
}

// Logs the start and stop of the output and sends a held datagram before the target changes.
void Streamer::Follow(const StreamTarget& target) {
    if (target == current) {
        return;
    }
    if (held) {
        Transmit(*held, current);
        held.reset();
    }
    if (current.Active() && log) {
        log("stream to " + Describe(current) + " stopped");
    }
    current = target;
    paceOrigin.reset();  // a recording goes on at its pace from now
    if (current.Active() && log) {
        log("stream to " + Describe(current) + " started");
    }
}

void Streamer::Send(const Bytes& datagram, const StreamTarget& target) {
    switch (faults.NextDatagram()) {
        case Faults::Datagram::Lose:
            ++lost;
            return;
        case Faults::Datagram::Truncate:
            ++truncated;
            Transmit(Bytes(datagram.begin(),
                           datagram.begin() + static_cast<std::ptrdiff_t>(
                                                  faults.TruncatedLength(datagram.size()))),
                     target);
            break;
        case Faults::Datagram::Duplicate:
            ++duplicated;
            Transmit(datagram, target);
            Transmit(datagram, target);
            break;
        case Faults::Datagram::Reorder:
            if (!held) {
                ++reordered;
                held = datagram;
                return;
            }
            Transmit(datagram, target);
            break;
        case Faults::Datagram::Send:
            Transmit(datagram, target);
            break;
    }
    if (held) {
        Transmit(*held, target);
        held.reset();
    }
}

void Streamer::Transmit(const Bytes& datagram, const StreamTarget& target) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(target.address, error);
    if (error) {
        return;
    }
    // A receiver that is not there yet is no error of the sensor's.
    socket.send_to(boost::asio::buffer(datagram), {address, target.port}, 0, error);
}

}  // namespace Varkon::QUILApi::Sim

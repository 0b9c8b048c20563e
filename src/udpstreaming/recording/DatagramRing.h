#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming::Recording {

// Hands datagrams from one producer thread to one consumer thread without a lock: a ring of
// fixed-size slots, allocated once. The producer never waits; when every slot is taken, Claim
// refuses and the datagram stays with the producer.
//
// Producer: Claim, fill the slot, Publish. Consumer: Available, Peek at the slots, Release them.
class DatagramRing {
public:
    static constexpr std::size_t kSlotBytes = 2048;
    // Room before the datagram for what the consumer writes in front of it (a capture's record
    // header, IPv4 and UDP headers: 16 + 20 + 8 bytes), so that a record is written from the
    // slot itself, without copying the datagram once more.
    static constexpr std::size_t kHeadroom = 44;

    struct Slot {
        int64_t arrivalMicroseconds;
        uint32_t senderAddress;    // IPv4, host byte order
        uint32_t receiverAddress;  // IPv4, host byte order
        uint16_t senderPort;
        uint32_t size;                                       // bytes held, at most kSlotBytes
        uint32_t wireSize;                                   // length as sent
        std::array<uint8_t, kHeadroom + kSlotBytes> record;  // headroom, then the datagram

        uint8_t* Datagram() { return record.data() + kHeadroom; }
    };

    explicit DatagramRing(std::size_t capacity) : slots(capacity == 0 ? 1 : capacity) {}

    // Producer: a free slot, or null when the ring is full.
    Slot* Claim() {
        const uint64_t at = tail.load(std::memory_order_relaxed);
        if (at - head.load(std::memory_order_acquire) >= slots.size()) {
            return nullptr;
        }
        return &slots[at % slots.size()];
    }
    // Producer: makes the claimed slot visible to the consumer.
    void Publish() {
        tail.store(tail.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Consumer: how many published slots wait, oldest first.
    std::size_t Available() const {
        return static_cast<std::size_t>(tail.load(std::memory_order_acquire) -
                                        head.load(std::memory_order_relaxed));
    }
    // Consumer: the published slot `i` places behind the oldest (i < Available()). The consumer
    // may write into it until it releases it.
    Slot* Peek(std::size_t i) {
        return &slots[(head.load(std::memory_order_relaxed) + i) % slots.size()];
    }
    // Consumer: gives the `count` oldest slots back to the producer.
    void Release(std::size_t count) {
        head.store(head.load(std::memory_order_relaxed) + count, std::memory_order_release);
    }

private:
    std::vector<Slot> slots;
    alignas(64) std::atomic<uint64_t> head{0};  // next slot to consume; written by the consumer
    alignas(64) std::atomic<uint64_t> tail{0};  // next slot to fill; written by the producer
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

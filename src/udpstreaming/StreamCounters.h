#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "quil/Quil.h"

namespace Varkon::QUILApi::UdpStreaming {

// The stream's counters: one for each entry of StreamStatistics::kCounters.
//
// One thread, the stream's worker, writes them; any thread reads them. A counter is a relaxed
// atomic that only its writer changes, so an increment is a plain load and store (no locked
// instruction), and a reader always sees a whole value. A reset does not write the counters: it
// records their values as the new zero, so the worker never meets a second writer.
class StreamCounters {
public:
    using Counter = uint64_t StreamStatistics::*;
    static constexpr std::size_t kCount = StreamStatistics::kCounters.size();

    // Worker only. Usage: Add<&StreamStatistics::blocksLost>(gap).
    template <Counter member>
    void Add(uint64_t amount = 1) {
        constexpr std::size_t index = IndexOf(member);
        auto& counter = counters[index];
        counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
    }
    // Worker only: for a count kept elsewhere that only grows (the system's drop count).
    template <Counter member>
    void Raise(uint64_t value) {
        constexpr std::size_t index = IndexOf(member);
        auto& counter = counters[index];
        if (value > counter.load(std::memory_order_relaxed)) {
            counter.store(value, std::memory_order_relaxed);
        }
    }

    // Any thread.
    void SetReceiveBuffer(int requested, int granted) {
        receiveBufferRequested.store(requested, std::memory_order_relaxed);
        receiveBufferGranted.store(granted, std::memory_order_relaxed);
    }

    StreamStatistics Read() const {
        std::lock_guard<std::mutex> lock(baselineMutex);
        StreamStatistics statistics;
        for (std::size_t i = 0; i < kCount; ++i) {
            const uint64_t value = counters[i].load(std::memory_order_relaxed);
            // The worker may have moved a counter on since the reset's reading, never back.
            statistics.*StreamStatistics::kCounters[i].second = value - baseline[i];
        }
        statistics.receiveBufferRequested = receiveBufferRequested.load(std::memory_order_relaxed);
        statistics.receiveBufferGranted = receiveBufferGranted.load(std::memory_order_relaxed);
        return statistics;
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(baselineMutex);
        for (std::size_t i = 0; i < kCount; ++i) {
            baseline[i] = counters[i].load(std::memory_order_relaxed);
        }
    }

private:
    static constexpr std::size_t IndexOf(Counter member) {
        std::size_t i = 0;
        while (StreamStatistics::kCounters[i].second != member) {
            ++i;
        }
        return i;
    }

    std::array<std::atomic<uint64_t>, kCount> counters{};
    std::array<uint64_t, kCount> baseline{};  // under baselineMutex
    mutable std::mutex baselineMutex;
    std::atomic<int> receiveBufferRequested{0};
    std::atomic<int> receiveBufferGranted{0};
};

}  // namespace Varkon::QUILApi::UdpStreaming

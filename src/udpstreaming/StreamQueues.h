#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <tuple>

#include "quil/Quil.h"
#include "udpstreaming/StreamCounters.h"

namespace Varkon::QUILApi::UdpStreaming {

// The stream's three bounded first-in-first-out queues: errors, measurements and profiles, each
// operation a template over the entry's type (StreamError, StreamMeasurement, TimedProfile).
//
// The worker files entries. A full queue keeps its capacity by the overflow rule: the policy
// drops the oldest entry or the new one, and the drop is counted. Errors that must not get lost
// (FileUrgent) pass a full queue, up to twice its capacity. A source that can wait (a replay)
// makes the worker wait for room in the measurement and profile queues instead (`waitForRoom`),
// so that none of its blocks is dropped.
//
// Application threads take entries under the one mutex. Waiting readers sleep on `filed`; the
// worker wakes them once per run of datagrams that arrived together (FlushWake), not per entry:
// a wake is a system call, and the next entries follow within microseconds. While nothing more
// can be filed (SetFiling(false): the stream is stopped or closed), waits return at once.
class StreamQueues {
public:
    static constexpr std::size_t kDefaultCapacity = 10000;
    static constexpr std::chrono::milliseconds kRoomPoll{100};

    StreamQueues(StreamCounters& counters, bool waitForRoom);

    std::size_t GetCapacity() const { return capacity; }
    void SetCapacity(std::size_t entries);
    QueueOverflowPolicy GetPolicy() const { return policy; }
    void SetPolicy(QueueOverflowPolicy overflowPolicy) { policy = overflowPolicy; }
    // Whether entries can still be filed; after Close, never again. Any thread.
    void SetFiling(bool filing);
    void Close();

    // Worker only.
    template <class Entry>
    void File(Entry entry);
    void FileUrgent(StreamError error);
    void FlushWake();

    // Any thread. Pop throws std::out_of_range ("Profile queue is empty.", for example).
    template <class Entry>
    Entry Pop();
    template <class Entry>
    std::optional<Entry> PopFor(std::chrono::milliseconds timeout);
    template <class Entry>
    std::size_t Count();
    template <class Entry>
    void Clear();
    // Waits until any queue holds an entry; removes nothing.
    bool WaitForAny(std::chrono::milliseconds timeout);

private:
    template <class Entry>
    std::deque<Entry>& QueueOf() {
        return std::get<std::deque<Entry>>(queues);
    }
    // The overflow rule. Needs the mutex.
    template <class Entry>
    void AddByRule(Entry&& entry);
    // With waitForRoom, waits while the queue of `Entry` is full and entries can be filed.
    template <class Entry>
    void WaitForRoom(std::unique_lock<std::mutex>& lock);
    void RoomMade();  // needs the mutex
    // Waits until `ready` holds, the time is up, or nothing more can be filed. Needs the
    // mutex, held by `lock`; returns whether `ready` holds.
    template <class Ready>
    bool WaitFiled(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                   Ready ready);

    StreamCounters& counters;
    const bool waitForRoom;
    std::atomic<std::size_t> capacity{kDefaultCapacity};
    std::atomic<QueueOverflowPolicy> policy{DropOldest};
    std::mutex mutex;
    std::tuple<std::deque<StreamError>, std::deque<StreamMeasurement>, std::deque<TimedProfile>>
        queues;
    bool filing = false;               // under the mutex
    bool closed = false;               // under the mutex
    std::condition_variable filed;     // an entry was filed, or filing ended
    std::size_t waiting = 0;           // readers waiting on `filed`; under the mutex
    bool wakePending = false;          // entries filed since the last wake; worker only
    std::condition_variable roomMade;  // an entry was taken, or filing ended
};

}  // namespace Varkon::QUILApi::UdpStreaming

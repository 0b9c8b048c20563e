#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "quil/Quil.h"
#include "udpstreaming/RingQueue.h"
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
//
// The worker stages what a run of datagrams yields and files it at the run's end, all under one
// lock (FlushWake), so that it takes the mutex once per run rather than once per entry.
//
// Profiles: a profile leaves the queue as a copy made on the thread that takes it, and the
// channels it was decoded into go back to the worker (SpareProfile) to decode a later one into.
// The worker thus allocates no channels once it runs, and memory is always freed on the thread
// that allocated it; a block of memory freed by another thread than its own makes both threads
// queue for the same lock of the memory allocator.
class StreamQueues {
public:
    static constexpr std::size_t kDefaultCapacity = 10000;
    static constexpr std::chrono::milliseconds kRoomPoll{100};
    // Most spare profiles kept: as many as the longest run of datagrams can yield (a replay's
    // 128, a socket's 32).
    static constexpr std::size_t kSpareProfiles = 128;

    StreamQueues(StreamCounters& counters, bool waitForRoom);

    std::size_t GetCapacity() const { return capacity; }
    void SetCapacity(std::size_t entries);
    QueueOverflowPolicy GetPolicy() const { return policy; }
    void SetPolicy(QueueOverflowPolicy overflowPolicy) { policy = overflowPolicy; }
    // Whether entries can still be filed; after Close, never again. Any thread.
    void SetFiling(bool filing);
    void Close();

    // Worker only. File files at once; Stage files at the next FlushWake, which FileUrgent
    // and the end of a run call.
    template <class Entry>
    void File(Entry entry);
    template <class Entry>
    void Stage(Entry entry);
    void FileUrgent(StreamError error);
    void FlushWake();
    // An empty profile, whose channels keep the room of one taken before where there is one.
    StreamProfile SpareProfile();

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
    RingQueue<Entry>& QueueOf() {
        return std::get<RingQueue<Entry>>(queues);
    }
    template <class Entry>
    std::vector<Entry>& StagedOf() {
        return std::get<std::vector<Entry>>(staged);
    }
    // Files what is staged. Needs the mutex.
    void FileStaged(std::unique_lock<std::mutex>& lock);
    // The overflow rule. Needs the mutex.
    template <class Entry>
    void AddByRule(Entry&& entry);
    // Removes the oldest entry; a profile is returned as a copy, its channels kept as a spare.
    // Needs the mutex.
    template <class Entry>
    Entry TakeFront();
    // Keeps the channels of a profile that left the queue, up to kSpareProfiles; `spares` is
    // `workerSpares` on the worker, `returnedSpares` (under the mutex) elsewhere.
    static void KeepSpare(std::vector<StreamProfile>& spares, StreamProfile& profile);
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
    std::tuple<RingQueue<StreamError>, RingQueue<StreamMeasurement>, RingQueue<TimedProfile>>
        queues;
    // Worker only.
    std::tuple<std::vector<StreamError>, std::vector<StreamMeasurement>, std::vector<TimedProfile>>
        staged;
    std::vector<StreamProfile> workerSpares;    // worker only
    std::vector<StreamProfile> returnedSpares;  // under the mutex
    bool filing = false;                        // under the mutex
    bool closed = false;                        // under the mutex
    std::condition_variable filed;              // an entry was filed, or filing ended
    std::size_t waiting = 0;                    // readers waiting on `filed`; under the mutex
    bool wakePending = false;                   // entries filed since the last wake; worker only
    std::condition_variable roomMade;           // an entry was taken, or filing ended
};

}  // namespace Varkon::QUILApi::UdpStreaming

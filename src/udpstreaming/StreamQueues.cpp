#include "udpstreaming/StreamQueues.h"

#include <stdexcept>
#include <type_traits>
#include <utility>

namespace Varkon::QUILApi::UdpStreaming {

namespace {

// What differs between the queues: the text of an empty one, the counter of its drops, and
// whether filing waits for room where the source can wait (errors never do).
template <class Entry>
struct QueueFacts;
template <>
struct QueueFacts<StreamError> {
    static constexpr const char* kEmpty = "Error queue is empty.";
    static constexpr StreamCounters::Counter kDropped = &StreamStatistics::errorsDropped;
    static constexpr bool kWaitsForRoom = false;
};
template <>
struct QueueFacts<StreamMeasurement> {
    static constexpr const char* kEmpty = "Measurement queue is empty.";
    static constexpr StreamCounters::Counter kDropped = &StreamStatistics::measurementsDropped;
    static constexpr bool kWaitsForRoom = true;
};
template <>
struct QueueFacts<TimedProfile> {
    static constexpr const char* kEmpty = "Profile queue is empty.";
    static constexpr StreamCounters::Counter kDropped = &StreamStatistics::profilesDropped;
    static constexpr bool kWaitsForRoom = true;
};

}  // namespace

StreamQueues::StreamQueues(StreamCounters& counters, bool waitForRoom)
    : counters(counters), waitForRoom(waitForRoom) {
    // Never grown later, so that neither list's array is freed by the other thread once swapped.
    workerSpares.reserve(kSpareProfiles);
    returnedSpares.reserve(kSpareProfiles);
}

void StreamQueues::SetCapacity(std::size_t entries) {
    std::lock_guard<std::mutex> lock(mutex);
    capacity = entries;
    roomMade.notify_all();
}

void StreamQueues::SetFiling(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    filing = on && !closed;
    if (!filing) {
        filed.notify_all();  // nothing more arrives for waiting readers
        roomMade.notify_all();
    }
}

void StreamQueues::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    SetFiling(false);
}

template <class Entry>
void StreamQueues::File(Entry entry) {
    std::unique_lock<std::mutex> lock(mutex);
    WaitForRoom<Entry>(lock);
    AddByRule(std::move(entry));
}

template <class Entry>
void StreamQueues::Stage(Entry entry) {
    StagedOf<Entry>().push_back(std::move(entry));
}

void StreamQueues::FileUrgent(StreamError error) {
    std::unique_lock<std::mutex> lock(mutex);
    FileStaged(lock);  // errors stay in the order they were found
    auto& errors = QueueOf<StreamError>();
    if (errors.size() / 2 < capacity) {  // size < 2 x capacity, without overflow
        errors.push_back(std::move(error));
        wakePending = true;
    } else {
        AddByRule(std::move(error));
    }
}

template <class Entry>
void StreamQueues::AddByRule(Entry&& entry) {
    auto& queue = QueueOf<Entry>();
    if (queue.size() < capacity) {
        queue.push_back(std::move(entry));
    } else if (policy == DropOldest && !queue.empty()) {
        if constexpr (std::is_same_v<Entry, TimedProfile>) {
            KeepSpare(workerSpares, queue.front().profile);
        }
        queue.pop_front();
        queue.push_back(std::move(entry));
        counters.Add<QueueFacts<Entry>::kDropped>();
    } else {
        counters.Add<QueueFacts<Entry>::kDropped>();
        return;
    }
    wakePending = true;
}

void StreamQueues::FlushWake() {
    const bool anyStaged =
        std::apply([](const auto&... entries) { return (!entries.empty() || ...); }, staged);
    if (!anyStaged && !wakePending) {
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    FileStaged(lock);
    if (workerSpares.empty()) {
        workerSpares.swap(returnedSpares);
    }
    wakePending = false;
    const bool readersWait = waiting != 0;
    // A reader woken while the mutex is still held would at once have to wait for it again.
    lock.unlock();
    if (readersWait) {
        filed.notify_all();
    }
}

void StreamQueues::FileStaged(std::unique_lock<std::mutex>& lock) {
    std::apply(
        [&](auto&... entries) {
            const auto fileAll = [&](auto& batch) {
                using Entry = typename std::decay_t<decltype(batch)>::value_type;
                for (Entry& entry : batch) {
                    WaitForRoom<Entry>(lock);
                    AddByRule(std::move(entry));
                }
                batch.clear();
            };
            (fileAll(entries), ...);
        },
        staged);
}

StreamProfile StreamQueues::SpareProfile() {
    if (workerSpares.empty()) {
        return {};
    }
    StreamProfile spare = std::move(workerSpares.back());
    workerSpares.pop_back();
    return spare;
}

void StreamQueues::KeepSpare(std::vector<StreamProfile>& spares, StreamProfile& profile) {
    if (spares.size() < kSpareProfiles) {
        spares.push_back(std::move(profile));
    }
}

template <class Entry>
Entry StreamQueues::TakeFront() {
    auto& queue = QueueOf<Entry>();
    Entry& front = queue.front();
    if constexpr (std::is_same_v<Entry, TimedProfile>) {
        TimedProfile copy = front;  // allocated here, to be freed by this thread
        KeepSpare(returnedSpares, front.profile);
        front = TimedProfile{};
        queue.pop_front();
        return copy;
    } else {
        Entry entry = std::move(front);
        queue.pop_front();
        return entry;
    }
}

template <class Entry>
void StreamQueues::WaitForRoom(std::unique_lock<std::mutex>& lock) {
    if (!waitForRoom || !QueueFacts<Entry>::kWaitsForRoom) {
        return;
    }
    while (QueueOf<Entry>().size() >= capacity && filing) {
        // The readers must see what the full queue holds, or nobody would ever make room.
        if (wakePending) {
            wakePending = false;
            filed.notify_all();
        }
        roomMade.wait_for(lock, kRoomPoll);
    }
}

void StreamQueues::RoomMade() {
    if (waitForRoom) {
        roomMade.notify_one();
    }
}

template <class Ready>
bool StreamQueues::WaitFiled(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                             Ready ready) {
    if (ready()) {
        return true;  // the usual case of a reader that keeps up: no clock reading, no wait
    }
    if (timeout <= std::chrono::milliseconds::zero()) {
        return false;  // a look without waiting: no system call, no wake-up owed to it
    }
    using Clock = std::chrono::steady_clock;
    // A limit beyond the clock's range (milliseconds::max() for "no limit") waits until the end.
    const auto now = Clock::now();
    const auto deadline = timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(
                                         Clock::time_point::max() - now)
                              ? Clock::time_point::max()
                              : now + timeout;
    ++waiting;
    const bool result = filed.wait_until(lock, deadline, [&] { return ready() || !filing; });
    --waiting;
    return result && ready();
}

template <class Entry>
Entry StreamQueues::Pop() {
    std::lock_guard<std::mutex> lock(mutex);
    auto& queue = QueueOf<Entry>();
    if (queue.empty()) {
        throw std::out_of_range(QueueFacts<Entry>::kEmpty);
    }
    Entry entry = TakeFront<Entry>();
    RoomMade();
    return entry;
}

template <class Entry>
std::optional<Entry> StreamQueues::PopFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    auto& queue = QueueOf<Entry>();
    if (!WaitFiled(lock, timeout, [&] { return !queue.empty(); })) {
        return std::nullopt;
    }
    Entry entry = TakeFront<Entry>();
    RoomMade();
    return entry;
}

template <class Entry>
std::size_t StreamQueues::Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return QueueOf<Entry>().size();
}

template <class Entry>
void StreamQueues::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    QueueOf<Entry>().clear();
    RoomMade();
}

bool StreamQueues::WaitForAny(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return WaitFiled(lock, timeout, [this] {
        return std::apply([](const auto&... queue) { return (!queue.empty() || ...); }, queues);
    });
}

#define QUIL_STREAM_QUEUE(Entry)                                                          \
    template void StreamQueues::File<Entry>(Entry);                                       \
    template void StreamQueues::Stage<Entry>(Entry);                                      \
    template Entry StreamQueues::Pop<Entry>();                                            \
    template std::optional<Entry> StreamQueues::PopFor<Entry>(std::chrono::milliseconds); \
    template std::size_t StreamQueues::Count<Entry>();                                    \
    template void StreamQueues::Clear<Entry>();
QUIL_STREAM_QUEUE(StreamError)
QUIL_STREAM_QUEUE(StreamMeasurement)
QUIL_STREAM_QUEUE(TimedProfile)
#undef QUIL_STREAM_QUEUE

}  // namespace Varkon::QUILApi::UdpStreaming

#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming {

// A first-in-first-out queue in one growing array used as a ring. Unlike std::deque, which
// allocates a block every few entries on the thread that files them and frees it on the thread
// that takes them, it allocates only when it outgrows its array, and then doubles it. A taken
// entry's slot stays, moved from, until an entry is filed into it again.
template <class Entry>
class RingQueue {
public:
    bool empty() const { return count == 0; }
    std::size_t size() const { return count; }

    Entry& front() { return slots[head]; }

    void push_back(Entry&& entry) {
        if (count == slots.size()) {
            Grow();
        }
        slots[(head + count) & (slots.size() - 1)] = std::move(entry);
        ++count;
    }

    void pop_front() {
        head = (head + 1) & (slots.size() - 1);
        --count;
    }

    // Gives the array back, as a queue emptied for good should.
    void clear() {
        std::vector<Entry>().swap(slots);
        head = count = 0;
    }

private:
    void Grow() {
        std::vector<Entry> grown(slots.empty() ? kFirstSize : 2 * slots.size());
        for (std::size_t i = 0; i < count; ++i) {
            grown[i] = std::move(slots[(head + i) & (slots.size() - 1)]);
        }
        slots.swap(grown);
        head = 0;
    }

    static constexpr std::size_t kFirstSize = 64;  // sizes stay powers of two

    std::vector<Entry> slots;
    std::size_t head = 0;
    std::size_t count = 0;
};

}  // namespace Varkon::QUILApi::UdpStreaming

#pragma once

// What waits to be sent to one browser: at most `capacity` messages. A browser that reads
// slower than the view publishes loses the oldest messages, never the stream's time.

#include <cstdint>
#include <deque>
#include <utility>

namespace Varkon::QUILApi::View {

template <typename Message>
class BoundedBacklog {
public:
    explicit BoundedBacklog(std::size_t capacity) : capacity(capacity < 1 ? 1 : capacity) {}

    /// Adds `message`; when full, the oldest waiting message makes room and is counted.
    void Push(Message message) {
        if (waiting.size() == capacity) {
            waiting.pop_front();
            ++dropped;
        }
        waiting.push_back(std::move(message));
    }
    bool Empty() const { return waiting.empty(); }
    std::size_t Size() const { return waiting.size(); }
    /// Takes the oldest waiting message. Not on an empty backlog.
    Message Pop() {
        Message message = std::move(waiting.front());
        waiting.pop_front();
        return message;
    }
    /// Messages discarded to make room, since the start.
    uint64_t Dropped() const { return dropped; }

private:
    std::size_t capacity;
    std::deque<Message> waiting;
    uint64_t dropped = 0;
};

}  // namespace Varkon::QUILApi::View

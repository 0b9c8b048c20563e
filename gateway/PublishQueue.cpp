#include "PublishQueue.h"

namespace Varkon::QuilGateway {

std::size_t OutgoingMessage::Bytes() const {
    std::size_t size = topic.size() + payload.size();
    if (deviceMetrics) {
        // A metric's value takes at most 16 bytes, but for a text, which takes its length.
        for (const Metric& metric : *deviceMetrics) {
            const auto* text = std::get_if<std::string>(&metric.value);
            size += metric.name.size() + 16 + (text != nullptr ? text->size() : 0);
        }
    }
    return size;
}

void PublishQueue::Push(OutgoingMessage message) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        bytes += message.Bytes();
        messages.push_back(std::move(message));
        while (messages.size() > limits.messages || (bytes > limits.bytes && messages.size() > 1)) {
            bytes -= messages.front().Bytes();
            messages.pop_front();
            ++dropped;
        }
    }
    arrived.notify_one();
}

std::optional<OutgoingMessage> PublishQueue::TryPop() {
    const std::lock_guard<std::mutex> lock(mutex);
    if (messages.empty()) {
        return std::nullopt;
    }
    OutgoingMessage message = std::move(messages.front());
    messages.pop_front();
    bytes -= message.Bytes();
    return message;
}

bool PublishQueue::WaitForMessage(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, timeout, [&] { return !messages.empty(); });
}

void PublishQueue::CountDropped(uint64_t count) {
    const std::lock_guard<std::mutex> lock(mutex);
    dropped += count;
}

uint64_t PublishQueue::Dropped() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return dropped;
}

std::size_t PublishQueue::Size() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return messages.size();
}

std::size_t PublishQueue::Bytes() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return bytes;
}

}  // namespace Varkon::QuilGateway

// An MQTT client of the test that collects every message of the topics it subscribes to.
#pragma once

#include "support/Wait.h"

#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace Varkon::QuilGateway::Testing {

struct Received {
    std::string topic;
    std::string payload;
};

class Subscriber {
public:
    Subscriber(const std::string& host, uint16_t port, const std::vector<std::string>& topics) {
        mosquitto_lib_init();
        client = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(client, [](struct mosquitto* c, void* self, int result) {
            if (result == 0) {
                for (const auto& topic : static_cast<Subscriber*>(self)->topics) {
                    mosquitto_subscribe(c, nullptr, topic.c_str(), 1);
                }
            }
        });
        mosquitto_subscribe_callback_set(client,
                                         [](struct mosquitto*, void* self, int, int, const int*) {
                                             ++static_cast<Subscriber*>(self)->subscriptions;
                                         });
        mosquitto_message_callback_set(
            client, [](struct mosquitto*, void* self, const struct mosquitto_message* message) {
                auto& subscriber = *static_cast<Subscriber*>(self);
                const std::lock_guard<std::mutex> lock(subscriber.mutex);
                subscriber.messages.push_back(
                    {message->topic, std::string(static_cast<const char*>(message->payload),
                                                 static_cast<std::size_t>(message->payloadlen))});
            });
        this->topics = topics;
        mosquitto_connect(client, host.c_str(), port, 30);
        mosquitto_loop_start(client);
    }
    ~Subscriber() {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
    }

    /// Waits until the broker confirmed `count` subscriptions, one per topic and connection.
    bool WaitSubscribed(int count) {
        return Varkon::QUILApi::Testing::WaitUntil([&] { return subscriptions >= count; });
    }

    std::vector<Received> Messages() {
        const std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }
    /// The messages of `topic` so far.
    std::vector<std::string> On(const std::string& topic) {
        std::vector<std::string> payloads;
        for (const auto& message : Messages()) {
            if (message.topic == topic) {
                payloads.push_back(message.payload);
            }
        }
        return payloads;
    }
    /// Waits until `topic` had at least `count` messages.
    bool WaitFor(const std::string& topic, std::size_t count = 1,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return Varkon::QUILApi::Testing::WaitUntil([&] { return On(topic).size() >= count; },
                                                   limit);
    }

    /// Publishes `payload` on `topic` with QoS 1.
    void Publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, false);
    }

private:
    struct mosquitto* client;
    std::vector<std::string> topics;
    std::atomic<int> subscriptions{0};
    std::mutex mutex;
    std::vector<Received> messages;
};

}  // namespace Varkon::QuilGateway::Testing

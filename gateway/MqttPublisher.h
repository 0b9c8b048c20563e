// The gateway's connection to the MQTT broker as a Sparkplug B edge node: connects with the
// node's death (NDEATH) as its will, publishes the births on every connection, sends what the
// queue holds and reconnects with back-off when the connection is lost. Commands (NCMD, DCMD)
// are acted on by a thread of their own (Commands.h), so that none holds up the connection.
#pragma once

#include "Commands.h"
#include "Configuration.h"
#include "Metrics.h"
#include "PublishQueue.h"
#include "SparkplugSequence.h"
#include "TaskThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace Varkon::QuilGateway {

/// A device's birth: its name and every metric it will report.
struct DeviceBirth {
    std::string device;
    Metrics metrics;
};

class MqttPublisher {
public:
    /// The births of the devices that are there at the moment of a (re)connection.
    using BirthSource = std::function<std::vector<DeviceBirth>()>;

    /// Keeps a sensor's black box (CommandTargets::keep), on the commands' thread.
    using KeepBlackBox =
        std::function<KeepAnswer(const std::string& sensor, const std::string& name)>;

    struct Backoff {
        std::chrono::milliseconds first{250};
        std::chrono::milliseconds most{8000};
    };

    MqttPublisher(BrokerSettings broker, std::string group, std::string node, PublishQueue& queue,
                  BirthSource births, Backoff backoff);
    MqttPublisher(BrokerSettings broker, std::string group, std::string node, PublishQueue& queue,
                  BirthSource births)
        : MqttPublisher(std::move(broker), std::move(group), std::move(node), queue,
                        std::move(births), Backoff{}) {}
    /// Publishes the node's death and disconnects (Stop).
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    /// What keeps a sensor's black box when a DCMD asks; before Start.
    void OnKeepBlackBox(KeepBlackBox handler) { keepBlackBox = std::move(handler); }

    void Start();
    /// Ends the commands' thread, sends what the queue holds (for a short while), publishes
    /// NDEATH and disconnects.
    void Stop();

    /// The node's answer to a command: one line, and "Node Control/Last Command" in an NDATA
    /// and in every NBIRTH after. Any thread.
    void AnswerCommand(const std::string& text);

    bool Connected() const { return connected; }
    /// Connections made so far; each one published the births.
    uint64_t Connections() const { return connections; }

private:
    void Run();
    bool Connect();
    void PublishBirths();
    void Send(OutgoingMessage message);
    bool Publish(const std::string& topic, const std::string& payload, int qos);
    void Serve();
    void WaitBeforeRetry(std::chrono::milliseconds delay);
    std::string LastCommand();
    static void OnConnect(struct mosquitto*, void* self, int result);
    static void OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* message);

    BrokerSettings broker;
    std::string group;
    std::string node;
    PublishQueue& queue;
    BirthSource births;
    Backoff backoff;
    KeepBlackBox keepBlackBox;

    struct mosquitto* client = nullptr;
    uint64_t birthDeathSequence = 0;  // bdSeq of the current connection
    SparkplugSequence sequence;
    int connackResult = -1;
    std::atomic<bool> rebirthRequested{false};
    std::atomic<bool> connected{false};
    std::atomic<uint64_t> connections{0};

    std::mutex lastCommandMutex;
    std::string lastCommand;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    std::thread thread;
    TaskThread commands;
};

}  // namespace Varkon::QuilGateway

// The gateway's connection to the MQTT broker as a Sparkplug B edge node: connects with the
// node's death (NDEATH) as its will, publishes the births on every connection, sends what the
// queue holds and reconnects with back-off when the connection is lost. What the births
// supersede is not sent; what the broker did not acknowledge when a connection ends is counted
// as dropped. Commands (NCMD, DCMD) are acted on by a thread of their own (Commands.h), so that
// none holds up the connection.
#pragma once

#include "Commands.h"
#include "Configuration.h"
#include "Metrics.h"
#include "PublishQueue.h"
#include "SparkplugSequence.h"
#include "Taken.h"
#include "TaskThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace Varkon::QuilGateway {

/// A device's birth: its name and every metric it will report, as taken when it was made.
struct DeviceBirth {
    std::string device;
    Metrics metrics;
    Taken taken = Taken::Now();
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
    /// Messages the broker acknowledged.
    uint64_t Sent() const { return sent; }
    /// Sparkplug messages not sent as a birth taken after them went out first.
    uint64_t Superseded() const { return superseded; }
    /// Connections that another client with the same client id took.
    uint64_t TakenOver() const { return takenOver; }

private:
    void Run();
    void NewClient();
    bool Connect();
    void PublishBirths();
    void Send(OutgoingMessage message);
    void Publish(const std::string& topic, const std::string& payload, int qos);
    void SendWaiting();
    int Serve();
    void Finish();
    void DropWaiting();
    void CountUnacknowledged();
    bool SupersededByBirth(const OutgoingMessage& message) const;
    void Tell(const std::string& line);
    bool Stopping();
    void WaitBeforeRetry(std::chrono::milliseconds delay);
    static void OnConnect(struct mosquitto*, void* self, int result);
    static void OnPublish(struct mosquitto*, void* self, int messageId);
    static void OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* message);

    BrokerSettings broker;
    std::string group;
    std::string node;
    PublishQueue& queue;
    BirthSource births;
    Backoff backoff;
    KeepBlackBox keepBlackBox;

    std::string where;                   // host:port
    struct mosquitto* client = nullptr;  // a new one for each connection
    uint64_t birthDeathSequence = 0;     // bdSeq of the current connection
    SparkplugSequence sequence;
    int connackResult = -1;
    std::unordered_set<int> unacknowledged;       // ids of the messages handed to the library
    uint64_t nodeBorn = 0;                        // Taken::order of the last NBIRTH
    std::map<std::string, uint64_t> devicesBorn;  // and of each DBIRTH that followed it
    std::string lastTold;                         // the last line about the connection
    std::atomic<bool> rebirthRequested{false};
    std::atomic<bool> connected{false};
    std::atomic<uint64_t> connections{0};
    std::atomic<uint64_t> sent{0};
    std::atomic<uint64_t> superseded{0};
    std::atomic<uint64_t> takenOver{0};

    std::mutex lastCommandMutex;  // also orders an NDATA against the NBIRTH that carries its text
    std::string lastCommand;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    std::thread thread;
    TaskThread commands;
};

}  // namespace Varkon::QuilGateway

#include "MqttPublisher.h"

#include "Clock.h"
#include "Log.h"
#include "SparkplugPayloads.h"
#include "SparkplugTopics.h"
#include "Taken.h"

#include <mosquitto.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace Varkon::QuilGateway {
namespace {

constexpr std::chrono::milliseconds kConnackLimit{5000};
constexpr std::chrono::milliseconds kDrainLimit{2000};
constexpr int kLoopMs = 10;
// Commands waiting for the commands' thread; one more is refused.
constexpr std::size_t kCommandsWaiting = 64;
// Messages handed to the library and not acknowledged yet: as many as the library sends before
// it waits for acknowledgements, so that it keeps none waiting of its own.
constexpr std::size_t kUnacknowledgedMost = 20;
// The broker closes a connection when another client connects with the same client id, without
// saying why. A connection it closes this soon after it was made, the next one accepted at once,
// twice in a row, was taken by another client.
constexpr std::chrono::seconds kShortConnection{5};
constexpr int kShortConnectionsTakenOver = 2;
// CONNACK return codes: a wrong user name or password, and not authorised.
constexpr int kConnackBadCredentials = 4;
constexpr int kConnackNotAuthorised = 5;

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

MqttPublisher::MqttPublisher(BrokerSettings broker, std::string group, std::string node,
                             PublishQueue& queue, BirthSource births, Backoff backoff)
    : broker(std::move(broker)),
      group(std::move(group)),
      node(std::move(node)),
      queue(queue),
      births(std::move(births)),
      backoff(backoff),
      commands(kCommandsWaiting) {
    InitialiseLibrary();
    where = this->broker.host + ":" + std::to_string(this->broker.port);
    NewClient();
}

MqttPublisher::~MqttPublisher() {
    Stop();
    if (client != nullptr) {
        mosquitto_destroy(client);
    }
}

// A client of its own for each connection: the library would send again, on the next one, what
// it held unacknowledged, with sequence numbers that came before the new births.
void MqttPublisher::NewClient() {
    if (client != nullptr) {
        mosquitto_destroy(client);
    }
    unacknowledged.clear();
    client = mosquitto_new(broker.clientId.c_str(), true, this);
    if (client == nullptr) {
        throw std::runtime_error("cannot create an MQTT client");
    }
    mosquitto_connect_callback_set(client, &MqttPublisher::OnConnect);
    mosquitto_publish_callback_set(client, &MqttPublisher::OnPublish);
    mosquitto_message_callback_set(client, &MqttPublisher::OnMessage);
    if (!broker.username.empty()) {
        mosquitto_username_pw_set(client, broker.username.c_str(),
                                  broker.password.empty() ? nullptr : broker.password.c_str());
    }
    if (broker.tls) {
        const auto orNull = [](const std::string& path) {
            return path.empty() ? nullptr : path.c_str();
        };
        const int result = mosquitto_tls_set(client, broker.tlsFiles.caFile.c_str(), nullptr,
                                             orNull(broker.tlsFiles.certFile),
                                             orNull(broker.tlsFiles.keyFile), nullptr);
        if (result != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(client);
            client = nullptr;
            throw std::runtime_error(std::string("cannot use the broker's TLS files: ") +
                                     mosquitto_strerror(result));
        }
    }
}

void MqttPublisher::Start() {
    if (!thread.joinable()) {
        thread = std::thread([this] { Run(); });
    }
}

void MqttPublisher::Stop() {
    commands.Stop();
    {
        const std::lock_guard<std::mutex> lock(stopMutex);
        stopping = true;
    }
    stopSignal.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

void MqttPublisher::OnConnect(struct mosquitto*, void* self, int result) {
    static_cast<MqttPublisher*>(self)->connackResult = result;
}

void MqttPublisher::OnPublish(struct mosquitto*, void* self, int messageId) {
    auto& publisher = *static_cast<MqttPublisher*>(self);
    if (publisher.unacknowledged.erase(messageId) > 0) {
        ++publisher.sent;
    }
}

void MqttPublisher::OnMessage(struct mosquitto*, void* self,
                              const struct mosquitto_message* message) {
    auto& publisher = *static_cast<MqttPublisher*>(self);
    auto command = std::make_shared<ReceivedCommand>(
        ReceiveCommand(message->topic, message->payload,
                       static_cast<std::size_t>(std::max(message->payloadlen, 0))));
    const bool posted = publisher.commands.Post([&publisher, command] {
        CommandTargets targets;
        targets.rebirth = [&publisher] {
            LogLine("NCMD: " + std::string(kRebirthMetric) + ", the births follow");
            publisher.rebirthRequested = true;
        };
        targets.keep = publisher.keepBlackBox;
        targets.answer = [&publisher](const std::string& text) { publisher.AnswerCommand(text); };
        HandleCommand(*command, publisher.group, publisher.node, targets);
    });
    if (!posted) {
        publisher.AnswerCommand("a command on " + Quoted(command->topic) + " refused: " +
                                std::to_string(kCommandsWaiting) + " commands wait already");
    }
}

void MqttPublisher::AnswerCommand(const std::string& text) {
    LogLine(text);
    const std::lock_guard<std::mutex> lock(lastCommandMutex);
    lastCommand = text;
    queue.Push({SparkplugTopic(group, SparkplugMessage::NDATA, node), "", kPublishQos,
                Metrics{{kLastCommandMetric, text}}});
}

// One line about the connection to the broker, unless it is the line told last.
void MqttPublisher::Tell(const std::string& line) {
    if (line != lastTold) {
        LogLine(line);
        lastTold = line;
    }
}

bool MqttPublisher::Stopping() {
    const std::lock_guard<std::mutex> lock(stopMutex);
    return stopping;
}

void MqttPublisher::WaitBeforeRetry(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(stopMutex);
    stopSignal.wait_for(lock, delay, [&] { return stopping; });
}

bool MqttPublisher::Connect() {
    NewClient();
    const std::string death = EncodeNodeDeath(birthDeathSequence, NowMs());
    mosquitto_will_set(client, SparkplugTopic(group, SparkplugMessage::NDEATH, node).c_str(),
                       static_cast<int>(death.size()), death.data(), kPublishQos, false);
    connackResult = -1;
    int result =
        mosquitto_connect(client, broker.host.c_str(), broker.port, broker.keepaliveSeconds);
    const auto deadline = std::chrono::steady_clock::now() + kConnackLimit;
    while (result == MOSQ_ERR_SUCCESS && connackResult < 0 &&
           std::chrono::steady_clock::now() < deadline) {
        result = mosquitto_loop(client, kLoopMs, 1);
    }
    if (result != MOSQ_ERR_SUCCESS || connackResult != 0) {
        const std::string who = "the MQTT broker at " + where;
        if (connackResult == kConnackBadCredentials || connackResult == kConnackNotAuthorised) {
            Tell(who + " refused the user name or password" +
                 (broker.username.empty() ? " (none is configured)" : ""));
        } else if (result == MOSQ_ERR_TLS) {
            Tell(who +
                 " refused the TLS connection, or its certificate is not signed by the authority "
                 "in " +
                 broker.tlsFiles.caFile);
        } else if (connackResult > 0) {
            Tell(who + " refused the connection: " + mosquitto_connack_string(connackResult));
        } else {
            Tell(who + " does not answer: " +
                 (result != MOSQ_ERR_SUCCESS
                      ? std::string(mosquitto_strerror(result))
                      : "no answer to the connection within " +
                            std::to_string(kConnackLimit.count() / 1000) + " s"));
        }
        mosquitto_disconnect(client);
        return false;
    }
    mosquitto_subscribe(client, nullptr,
                        SparkplugTopic(group, SparkplugMessage::NCMD, node).c_str(), kPublishQos);
    mosquitto_subscribe(client, nullptr,
                        SparkplugTopic(group, SparkplugMessage::DCMD, node, "+").c_str(),
                        kPublishQos);
    return true;
}

void MqttPublisher::Publish(const std::string& topic, const std::string& payload, int qos) {
    int messageId = 0;
    if (mosquitto_publish(client, &messageId, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, false) != MOSQ_ERR_SUCCESS) {
        queue.CountDropped(1);
    } else if (qos > 0) {
        unacknowledged.insert(messageId);
    } else {
        ++sent;
    }
}

// What the library held when the connection ended did not reach the broker, as far as the
// gateway can tell.
void MqttPublisher::CountUnacknowledged() {
    queue.CountDropped(unacknowledged.size());
    unacknowledged.clear();
}

// The births carry every value as it is now; a Sparkplug message taken before them would pass
// older values for current ones. The births of a device that is not there are the node's.
bool MqttPublisher::SupersededByBirth(const OutgoingMessage& message) const {
    const auto born = devicesBorn.find(SparkplugDevice(message.topic));
    return message.taken.order < (born == devicesBorn.end() ? nodeBorn : born->second);
}

void MqttPublisher::PublishBirths() {
    rebirthRequested = false;
    sequence.Birth();
    std::string lastCommandText;
    Taken nodeTaken;
    {
        const std::lock_guard<std::mutex> lock(lastCommandMutex);
        lastCommandText = lastCommand;
        nodeTaken = Taken::Now();
    }
    nodeBorn = nodeTaken.order;
    devicesBorn.clear();
    Publish(SparkplugTopic(group, SparkplugMessage::NBIRTH, node),
            EncodeNodeBirth(birthDeathSequence, nodeTaken.ms, lastCommandText), kPublishQos);
    for (const DeviceBirth& birth : births()) {
        devicesBorn[birth.device] = birth.taken.order;
        Publish(SparkplugTopic(group, SparkplugMessage::DBIRTH, node, birth.device),
                EncodeDevicePayload(birth.metrics, sequence.Next(), birth.taken.ms), kPublishQos);
    }
}

void MqttPublisher::Send(OutgoingMessage message) {
    if (message.deviceMetrics) {
        if (SupersededByBirth(message)) {
            ++superseded;
            return;
        }
        message.payload =
            EncodeDevicePayload(*message.deviceMetrics, sequence.Next(), message.taken.ms);
    }
    Publish(message.topic, message.payload, message.qos);
}

// Gives the library what waits, a few messages at a time and no more than it sends unanswered,
// so that its own buffer stays small and the bounded queue is where messages wait.
void MqttPublisher::SendWaiting() {
    for (int handed = 0; handed < 64 && unacknowledged.size() < kUnacknowledgedMost &&
                         !mosquitto_want_write(client);
         ++handed) {
        auto message = queue.TryPop();
        if (!message) {
            return;
        }
        Send(std::move(*message));
    }
}

// Sends while connected; the library's result when the connection ends, success when stopped.
int MqttPublisher::Serve() {
    while (!Stopping()) {
        if (rebirthRequested) {
            PublishBirths();
        }
        SendWaiting();
        const bool more = queue.Size() > 0 && unacknowledged.size() < kUnacknowledgedMost;
        const int result = mosquitto_loop(client, more ? 0 : kLoopMs, 1);
        if (result != MOSQ_ERR_SUCCESS) {
            return result;
        }
    }
    return MOSQ_ERR_SUCCESS;
}

void MqttPublisher::Run() {
    auto delay = backoff.first;
    int shortConnections = 0;  // in a row
    while (!Stopping()) {
        // bdSeq counts the connections: the will of each carries its own.
        birthDeathSequence = connections % 256;
        bool made = false;
        try {
            made = Connect();
        } catch (const std::exception& error) {
            Tell(error.what());
        }
        if (!made) {
            shortConnections = 0;
            WaitBeforeRetry(delay);
            delay = std::min(delay * 2, backoff.most);
            continue;
        }
        // While another client takes the connection each one ends alike: told once.
        if (shortConnections < kShortConnectionsTakenOver) {
            Tell("connected to the MQTT broker " + where);
        }
        const auto since = std::chrono::steady_clock::now();
        connected = true;
        ++connections;
        PublishBirths();
        const int ending = Serve();
        connected = false;
        if (ending == MOSQ_ERR_SUCCESS) {
            Finish();
            return;
        }
        CountUnacknowledged();
        const bool closedSoon = ending == MOSQ_ERR_CONN_LOST &&
                                std::chrono::steady_clock::now() - since < kShortConnection;
        shortConnections = closedSoon ? shortConnections + 1 : 0;
        if (shortConnections >= kShortConnectionsTakenOver) {
            // The connections of the run so far count once it is recognised.
            takenOver +=
                shortConnections == kShortConnectionsTakenOver ? kShortConnectionsTakenOver : 1;
            Tell("another client with the client id " + broker.clientId +
                 " took the connection to the MQTT broker " + where +
                 "; is a second gateway running with node id " + node + "?");
        } else {
            Tell("lost the connection to the MQTT broker " + where + "; reconnecting");
        }
        if (closedSoon) {
            WaitBeforeRetry(delay);
            delay = std::min(delay * 2, backoff.most);
        } else {
            delay = backoff.first;
        }
    }
    DropWaiting();
}

// At the end, what still waits does not reach the broker.
void MqttPublisher::DropWaiting() {
    uint64_t left = 0;
    while (queue.TryPop()) {
        ++left;
    }
    queue.CountDropped(left);
}

// A clean stop: what waits goes out, then the death, since the broker forgets the will of a
// client that disconnects. What is not acknowledged within the limit is counted as dropped.
void MqttPublisher::Finish() {
    const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
    bool live = true;
    while (live && (queue.Size() > 0 || !unacknowledged.empty()) &&
           std::chrono::steady_clock::now() < deadline) {
        SendWaiting();
        live = mosquitto_loop(client, kLoopMs, 1) == MOSQ_ERR_SUCCESS;
    }
    DropWaiting();
    Publish(SparkplugTopic(group, SparkplugMessage::NDEATH, node),
            EncodeNodeDeath(birthDeathSequence, NowMs()), kPublishQos);
    while (live && !unacknowledged.empty() && std::chrono::steady_clock::now() < deadline) {
        live = mosquitto_loop(client, kLoopMs, 1) == MOSQ_ERR_SUCCESS;
    }
    CountUnacknowledged();
    mosquitto_disconnect(client);
    mosquitto_loop(client, kLoopMs, 1);
}

}  // namespace Varkon::QuilGateway

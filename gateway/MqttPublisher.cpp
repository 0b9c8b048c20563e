#include "MqttPublisher.h"

#include "Clock.h"
#include "Log.h"
#include "SparkplugPayloads.h"
#include "SparkplugTopics.h"

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
constexpr int kSparkplugQos = 1;
// Commands waiting for the commands' thread; one more is refused.
constexpr std::size_t kCommandsWaiting = 64;

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
    client = mosquitto_new(this->broker.clientId.c_str(), true, this);
    if (client == nullptr) {
        throw std::runtime_error("cannot create an MQTT client");
    }
    mosquitto_connect_callback_set(client, &MqttPublisher::OnConnect);
    mosquitto_message_callback_set(client, &MqttPublisher::OnMessage);
    if (!this->broker.username.empty()) {
        mosquitto_username_pw_set(
            client, this->broker.username.c_str(),
            this->broker.password.empty() ? nullptr : this->broker.password.c_str());
    }
    if (this->broker.tls) {
        const auto orNull = [](const std::string& path) {
            return path.empty() ? nullptr : path.c_str();
        };
        const int result = mosquitto_tls_set(client, this->broker.tlsFiles.caFile.c_str(), nullptr,
                                             orNull(this->broker.tlsFiles.certFile),
                                             orNull(this->broker.tlsFiles.keyFile), nullptr);
        if (result != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(client);
            throw std::runtime_error(std::string("cannot use the broker's TLS files: ") +
                                     mosquitto_strerror(result));
        }
    }
}

MqttPublisher::~MqttPublisher() {
    Stop();
    mosquitto_destroy(client);
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
    {
        const std::lock_guard<std::mutex> lock(lastCommandMutex);
        lastCommand = text;
    }
    queue.Push({SparkplugTopic(group, SparkplugMessage::NDATA, node), "", kSparkplugQos,
                Metrics{{kLastCommandMetric, text}}});
}

std::string MqttPublisher::LastCommand() {
    const std::lock_guard<std::mutex> lock(lastCommandMutex);
    return lastCommand;
}

void MqttPublisher::WaitBeforeRetry(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(stopMutex);
    stopSignal.wait_for(lock, delay, [&] { return stopping; });
}

bool MqttPublisher::Connect() {
    const std::string death = EncodeNodeDeath(birthDeathSequence, NowMs());
    mosquitto_will_set(client, SparkplugTopic(group, SparkplugMessage::NDEATH, node).c_str(),
                       static_cast<int>(death.size()), death.data(), kSparkplugQos, false);
    connackResult = -1;
    int result =
        mosquitto_connect(client, broker.host.c_str(), broker.port, broker.keepaliveSeconds);
    const auto deadline = std::chrono::steady_clock::now() + kConnackLimit;
    while (result == MOSQ_ERR_SUCCESS && connackResult < 0 &&
           std::chrono::steady_clock::now() < deadline) {
        result = mosquitto_loop(client, kLoopMs, 1);
    }
    const std::string where = broker.host + ":" + std::to_string(broker.port);
    if (result != MOSQ_ERR_SUCCESS || connackResult != 0) {
        const std::string reason = result != MOSQ_ERR_SUCCESS ? mosquitto_strerror(result)
                                   : connackResult < 0        ? "no answer"
                                                       : mosquitto_connack_string(connackResult);
        LogLine("cannot connect to the MQTT broker " + where + ": " + reason);
        mosquitto_disconnect(client);
        return false;
    }
    mosquitto_subscribe(client, nullptr,
                        SparkplugTopic(group, SparkplugMessage::NCMD, node).c_str(), kSparkplugQos);
    mosquitto_subscribe(client, nullptr,
                        SparkplugTopic(group, SparkplugMessage::DCMD, node, "+").c_str(),
                        kSparkplugQos);
    LogLine("connected to the MQTT broker " + where);
    return true;
}

bool MqttPublisher::Publish(const std::string& topic, const std::string& payload, int qos) {
    return mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), qos, false) == MOSQ_ERR_SUCCESS;
}

void MqttPublisher::PublishBirths() {
    rebirthRequested = false;
    sequence.Birth();
    Publish(SparkplugTopic(group, SparkplugMessage::NBIRTH, node),
            EncodeNodeBirth(birthDeathSequence, NowMs(), LastCommand()), kSparkplugQos);
    for (const DeviceBirth& birth : births()) {
        Publish(SparkplugTopic(group, SparkplugMessage::DBIRTH, node, birth.device),
                EncodeDevicePayload(birth.metrics, sequence.Next(), NowMs()), kSparkplugQos);
    }
}

void MqttPublisher::Send(OutgoingMessage message) {
    if (message.deviceMetrics) {
        message.payload = EncodeDevicePayload(*message.deviceMetrics, sequence.Next(), NowMs());
    }
    Publish(message.topic, message.payload, message.qos);
}

// Sends while connected, giving the library one message at a time so that its own buffer stays
// small and the bounded queue is where messages wait.
void MqttPublisher::Serve() {
    while (true) {
        bool stop;
        {
            const std::lock_guard<std::mutex> lock(stopMutex);
            stop = stopping;
        }
        if (stop) {
            return;
        }
        if (rebirthRequested) {
            PublishBirths();
        }
        for (int sent = 0; sent < 64 && !mosquitto_want_write(client); ++sent) {
            auto message = queue.TryPop();
            if (!message) {
                break;
            }
            Send(std::move(*message));
        }
        const int timeout = queue.Size() > 0 ? 0 : kLoopMs;
        if (mosquitto_loop(client, timeout, 1) != MOSQ_ERR_SUCCESS) {
            return;
        }
    }
}

void MqttPublisher::Run() {
    auto delay = backoff.first;
    while (true) {
        {
            const std::lock_guard<std::mutex> lock(stopMutex);
            if (stopping) {
                return;
            }
        }
        // bdSeq counts the connections: the will of each carries its own.
        birthDeathSequence = connections % 256;
        if (!Connect()) {
            WaitBeforeRetry(delay);
            delay = std::min(delay * 2, backoff.most);
            continue;
        }
        delay = backoff.first;
        connected = true;
        ++connections;
        PublishBirths();
        Serve();
        connected = false;
        const std::lock_guard<std::mutex> lock(stopMutex);
        if (stopping) {
            break;
        }
        LogLine("lost the connection to the MQTT broker; reconnecting");
    }
    // A clean stop: send what waits, then the death, since the broker forgets the will of a
    // client that disconnects.
    const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        auto message = queue.TryPop();
        if (!message) {
            break;
        }
        Send(std::move(*message));
        mosquitto_loop(client, 0, 1);
    }
    const std::string death = EncodeNodeDeath(birthDeathSequence, NowMs());
    Publish(SparkplugTopic(group, SparkplugMessage::NDEATH, node), death, kSparkplugQos);
    while (mosquitto_want_write(client) && std::chrono::steady_clock::now() < deadline) {
        mosquitto_loop(client, kLoopMs, 1);
    }
    mosquitto_disconnect(client);
    mosquitto_loop(client, kLoopMs, 1);
}

}  // namespace Varkon::QuilGateway

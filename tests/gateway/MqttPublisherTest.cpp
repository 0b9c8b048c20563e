// The publisher against a real broker: births first on every connection, nothing they supersede
// after them, sequence numbers in the order of sending, each message stamped with the time of its
// values, a rebirth when asked, reconnection, the node's death at the end; what the broker did
// not acknowledge counted, another client with the same client id and a refused password told.
#include "Broker.h"
#include "Decode.h"
#include "MqttPublisher.h"
#include "SparkplugPayloads.h"
#include "SparkplugTopics.h"
#include "StandardError.h"
#include "Subscriber.h"
#include "TempDirectory.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <optional>

namespace Varkon::QuilGateway::Testing {
namespace {

using Varkon::QUILApi::Testing::RunCommand;
using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;
using Varkon::QUILApi::Testing::WaitUntil;

// How often `text` is in `log`.
std::size_t Occurrences(const std::string& log, const std::string& text) {
    std::size_t count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

BrokerSettings SettingsOf(const std::string& host, uint16_t port) {
    BrokerSettings settings;
    settings.host = host;
    settings.port = port;
    settings.clientId = "gateway-under-test";
    return settings;
}

constexpr MqttPublisher::Backoff kQuickBackoff{std::chrono::milliseconds(20),
                                               std::chrono::milliseconds(100)};

// The fields read through named payloads: GCC 12 warns wrongly about protobuf's repeated fields
// of a temporary.
std::optional<uint64_t> Seq(const std::string& bytes) {
    const Payload payload = Decode(bytes);
    return payload.has_seq() ? std::optional<uint64_t>(payload.seq()) : std::nullopt;
}

uint64_t BirthDeathSequence(const std::string& bytes) {
    const Payload payload = Decode(bytes);
    for (const auto& metric : payload.metrics()) {
        if (metric.name() == "bdSeq") {
            return metric.long_value();
        }
    }
    ADD_FAILURE() << "no bdSeq";
    return 0;
}

TEST(MqttPublisherTest, BirthsComeFirstOnEveryConnectionAndDeathAtTheEnd) {
    Broker broker(TestAddress(), TestPort());
    ASSERT_TRUE(broker.Ready()) << broker.Log();
    Subscriber subscriber(broker.Address(), broker.Port(), {"spBv1.0/#", "quil/#"});
    ASSERT_TRUE(subscriber.WaitSubscribed(2));

    const std::string nbirth = SparkplugTopic("g", SparkplugMessage::NBIRTH, "n");
    const std::string dbirth = SparkplugTopic("g", SparkplugMessage::DBIRTH, "n", "dev");
    const std::string ddata = SparkplugTopic("g", SparkplugMessage::DDATA, "n", "dev");
    // Taken while the broker was away: the births carry newer values, so the DDATA is not
    // sent; the profiles lane carries its own times and goes out.
    PublishQueue queue;
    queue.Push({ddata, "", 1, Metrics{{"x", uint64_t{2}}}});
    queue.Push({"quil/v1/g/dev/profiles", "batch", 1, std::nullopt});
    MqttPublisher publisher(
        SettingsOf(broker.Address(), broker.Port()), "g", "n", queue,
        [] {
            return std::vector<DeviceBirth>{{"dev", {{"x", uint64_t{1}}}}};
        },
        kQuickBackoff);
    publisher.Start();

    ASSERT_TRUE(subscriber.WaitFor("quil/v1/g/dev/profiles"));
    // Values taken after the births, sent later: stamped with the time they were taken.
    OutgoingMessage later{ddata, "", 1, Metrics{{"x", uint64_t{3}}}};
    later.taken.ms = 1700000000123;
    queue.Push(later);
    ASSERT_TRUE(subscriber.WaitFor(ddata));
    std::vector<std::string> order;
    for (const auto& message : subscriber.Messages()) {
        order.push_back(message.topic);
    }
    EXPECT_EQ(order, (std::vector<std::string>{nbirth, dbirth, "quil/v1/g/dev/profiles", ddata}));
    EXPECT_EQ(publisher.Superseded(), 1u);
    EXPECT_EQ(Seq(subscriber.On(nbirth)[0]), 0u);
    EXPECT_EQ(BirthDeathSequence(subscriber.On(nbirth)[0]), 0u);
    EXPECT_EQ(Seq(subscriber.On(dbirth)[0]), 1u);
    const Payload data = Decode(subscriber.On(ddata)[0]);
    EXPECT_EQ(data.seq(), 2u);
    EXPECT_EQ(data.timestamp(), 1700000000123u);
    ASSERT_EQ(data.metrics_size(), 1);
    EXPECT_EQ(data.metrics(0).long_value(), 3u);
    EXPECT_EQ(subscriber.On("quil/v1/g/dev/profiles")[0], "batch");

    // A rebirth asked for over NCMD: the births again, seq from 0, the same bdSeq.
    Payload rebirth;
    auto& metric = *rebirth.add_metrics();
    metric.set_name("Node Control/Rebirth");
    metric.set_datatype(11);
    metric.set_boolean_value(true);
    subscriber.Publish(SparkplugTopic("g", SparkplugMessage::NCMD, "n"),
                       rebirth.SerializeAsString());
    ASSERT_TRUE(subscriber.WaitFor(dbirth, 2));
    EXPECT_EQ(Seq(subscriber.On(nbirth)[1]), 0u);
    EXPECT_EQ(BirthDeathSequence(subscriber.On(nbirth)[1]), 0u);
    EXPECT_EQ(Seq(subscriber.On(dbirth)[1]), 1u);

    // The broker restarts: the publisher reconnects with the next bdSeq.
    broker.Kill();
    ASSERT_TRUE(WaitUntil([&] { return !publisher.Connected(); }));
    broker.Start();
    ASSERT_TRUE(broker.Ready()) << broker.Log();
    ASSERT_TRUE(WaitUntil([&] { return publisher.Connections() == 2; }));
    ASSERT_TRUE(subscriber.WaitSubscribed(4));
    subscriber.Publish(SparkplugTopic("g", SparkplugMessage::NCMD, "n"),
                       rebirth.SerializeAsString());
    ASSERT_TRUE(WaitUntil([&] {
        const auto births = subscriber.On(nbirth);
        return !births.empty() && BirthDeathSequence(births.back()) == 1;
    }));

    publisher.Stop();
    const std::string ndeath = SparkplugTopic("g", SparkplugMessage::NDEATH, "n");
    ASSERT_TRUE(subscriber.WaitFor(ndeath));
    EXPECT_EQ(BirthDeathSequence(subscriber.On(ndeath)[0]), 1u);
    EXPECT_FALSE(Seq(subscriber.On(ndeath)[0]).has_value());
}

// Every message handed to the library that the broker has not acknowledged when the connection
// ends is counted as dropped: sent, dropped and waiting add up to every message.
TEST(MqttPublisherTest, WhatTheBrokerDidNotAcknowledgeIsCountedAsDropped) {
    Broker broker(TestAddress(), TestPort());
    ASSERT_TRUE(broker.Ready()) << broker.Log();
    PublishQueue queue;
    MqttPublisher publisher(
        SettingsOf(broker.Address(), broker.Port()), "g", "n", queue,
        [] { return std::vector<DeviceBirth>{}; }, kQuickBackoff);
    publisher.Start();
    ASSERT_TRUE(WaitUntil([&] { return publisher.Sent() == 1; }));  // the NBIRTH
    broker.Signal(SIGSTOP);
    constexpr std::size_t kMessages = 200;
    for (std::size_t i = 0; i < kMessages; ++i) {
        queue.Push({"quil/v1/g/dev/profiles", std::string(100, 'p'), kPublishQos, std::nullopt});
    }
    // The library holds what it sent unanswered; the rest waits in the queue.
    ASSERT_TRUE(WaitUntil([&] { return queue.Size() <= kMessages - 10; }));
    broker.Kill();
    ASSERT_TRUE(WaitUntil([&] { return !publisher.Connected(); }));
    EXPECT_GE(queue.Dropped(), 10u);
    EXPECT_EQ(publisher.Sent() + queue.Dropped() + queue.Size(), kMessages + 1);
    // Stopped without a broker: what waits does not reach it either.
    publisher.Stop();
    EXPECT_EQ(publisher.Sent() + queue.Dropped(), kMessages + 1);
}

// Two gateways with one client id take the connection from each other: each says so once, in
// words, and counts it, however often it happens.
TEST(MqttPublisherTest, AnotherClientWithTheSameClientIdIsToldOnceAndCounted) {
    Broker broker(TestAddress(), TestPort());
    ASSERT_TRUE(broker.Ready()) << broker.Log();
    TempDirectory directory;
    std::optional<StandardError> lines(directory.Path("stderr"));
    PublishQueue queues[2];
    std::vector<std::unique_ptr<MqttPublisher>> publishers;
    for (auto& queue : queues) {
        publishers.push_back(std::make_unique<MqttPublisher>(
            SettingsOf(broker.Address(), broker.Port()), "g", "pc7", queue,
            [] { return std::vector<DeviceBirth>{}; }, kQuickBackoff));
        publishers.back()->Start();
    }
    const bool told = WaitUntil(
        [&] { return publishers[0]->TakenOver() >= 3 && publishers[1]->TakenOver() >= 3; },
        std::chrono::seconds(15));
    publishers.clear();
    const std::string log = lines->Text();
    lines.reset();
    EXPECT_TRUE(told) << log;
    EXPECT_EQ(Occurrences(log,
                          "quil-gateway: another client with the client id gateway-under-test "
                          "took the connection to the MQTT broker " +
                              broker.Address() + ":" + std::to_string(broker.Port()) +
                              "; is a second gateway running with node id pc7?\n"),
              2u)
        << log;
}

// A refused password reads otherwise than a broker that does not answer, and a line repeats only
// when its meaning changes.
TEST(MqttPublisherTest, ARefusedPasswordIsToldApartFromABrokerThatDoesNotAnswer) {
    TempDirectory directory;
    const std::string passwords = directory.Path("passwords");
    RunCommand("mosquitto_passwd -c -b " + passwords + " gateway right 2>/dev/null");
    RunCommand("chmod a+rX " + directory.Root() + " " + passwords);
    Broker broker(TestAddress(), TestPort(), "password_file " + passwords + "\n");
    ASSERT_TRUE(broker.Ready()) << broker.Log();
    const struct {
        std::string host;
        uint16_t port;
        std::string line;
    } cases[] = {
        {broker.Address(), broker.Port(),
         "the MQTT broker at " + broker.Address() + ":" + std::to_string(broker.Port()) +
             " refused the user name or password\n"},
        {TestAddress(1), TestPort(1),
         "the MQTT broker at " + TestAddress(1) + ":" + std::to_string(TestPort(1)) +
             " does not answer: Connection refused\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::optional<StandardError> lines(directory.Path("stderr"));
        BrokerSettings settings = SettingsOf(c.host, c.port);
        settings.username = "gateway";
        settings.password = "wrong";
        PublishQueue queue;
        MqttPublisher publisher(
            settings, "g", "n", queue, [] { return std::vector<DeviceBirth>{}; }, kQuickBackoff);
        publisher.Start();
        // Three attempts at the broker, or the line where the broker is not.
        const std::size_t before = Occurrences(broker.Log(), "New connection");
        EXPECT_TRUE(WaitUntil([&] {
            return c.port == broker.Port()
                       ? Occurrences(broker.Log(), "New connection") >= before + 3
                       : Occurrences(lines->Text(), c.line) > 0;
        })) << broker.Log();
        publisher.Stop();
        const std::string log = lines->Text();
        lines.reset();
        EXPECT_EQ(Occurrences(log, "quil-gateway: " + c.line), 1u) << log;
        EXPECT_FALSE(publisher.Connected());
    }
}

// A certificate authority and the broker's certificate for its address, made with openssl.
void MakeCertificates(const TempDirectory& directory, const std::string& address) {
    const std::string d = directory.Root() + "/";
    const std::string quiet = " 2>/dev/null";
    for (const char* ca : {"ca", "other-ca"}) {
        RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=" +
                   std::string(ca) + " -keyout " + d + ca + ".key -out " + d + ca + ".pem" + quiet);
    }
    directory.Write("san.ext", "subjectAltName=IP:" + address + "\n");
    RunCommand("openssl req -newkey rsa:2048 -nodes -subj /CN=" + address + " -keyout " + d +
               "broker.key -out " + d + "broker.csr" + quiet);
    RunCommand("openssl x509 -req -days 1 -in " + d + "broker.csr -CA " + d + "ca.pem -CAkey " + d +
               "ca.key -CAcreateserial -extfile " + d + "san.ext -out " + d + "broker.pem" + quiet);
    // mosquitto started as root reads them as its own user.
    RunCommand("chmod a+rX " + d + " " + d + "broker.key");
}

TEST(MqttPublisherTest, OverTlsItConnectsOnlyToABrokerItsAuthorityCertified) {
    if (std::system("command -v openssl >/dev/null") != 0) {
        GTEST_SKIP() << "needs openssl";
    }
    TempDirectory directory;
    MakeCertificates(directory, TestAddress());
    Broker broker(TestAddress(), TestPort(),
                  "cafile " + directory.Path("ca.pem") + "\ncertfile " +
                      directory.Path("broker.pem") + "\nkeyfile " + directory.Path("broker.key") +
                      "\n");
    ASSERT_TRUE(broker.Ready()) << broker.Log();
    for (const char* authority : {"ca.pem", "other-ca.pem"}) {
        SCOPED_TRACE(authority);
        const bool trusted = std::string(authority) == "ca.pem";
        BrokerSettings settings;
        settings.host = broker.Address();
        settings.port = broker.Port();
        settings.clientId = "gateway-under-test";
        settings.tls = true;
        settings.tlsFiles.caFile = directory.Path(authority);
        PublishQueue queue;
        MqttPublisher publisher(settings, "g", "n", queue,
                                [] { return std::vector<DeviceBirth>{}; },
                                {std::chrono::milliseconds(20), std::chrono::milliseconds(100)});
        publisher.Start();
        EXPECT_EQ(WaitUntil([&] { return publisher.Connected(); },
                            std::chrono::seconds(trusted ? 10 : 2)),
                  trusted)
            << broker.Log();
    }
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing

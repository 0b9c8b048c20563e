// The publisher against a real broker: births first on every connection, sequence numbers in
// the order of sending, a rebirth when asked, reconnection, and the node's death at the end.
#include "Broker.h"
#include "Decode.h"
#include "MqttPublisher.h"
#include "SparkplugPayloads.h"
#include "SparkplugTopics.h"
#include "Subscriber.h"
#include "TempDirectory.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace Varkon::QuilGateway::Testing {
namespace {

using Varkon::QUILApi::Testing::RunCommand;
using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;
using Varkon::QUILApi::Testing::WaitUntil;

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
    PublishQueue queue;
    queue.Push({ddata, "", 1, Metrics{{"x", uint64_t{2}}}});
    queue.Push({"quil/v1/g/dev/profiles", "batch", 0, std::nullopt});
    BrokerSettings settings;
    settings.host = broker.Address();
    settings.port = broker.Port();
    settings.clientId = "gateway-under-test";
    MqttPublisher publisher(settings, "g", "n", queue,
                            [] {
                                return std::vector<DeviceBirth>{{"dev", {{"x", uint64_t{1}}}}};
                            },
                            {std::chrono::milliseconds(20), std::chrono::milliseconds(100)});
    publisher.Start();

    ASSERT_TRUE(subscriber.WaitFor("quil/v1/g/dev/profiles"));
    ASSERT_TRUE(subscriber.WaitFor(ddata));
    std::vector<std::string> order;
    for (const auto& message : subscriber.Messages()) {
        order.push_back(message.topic);
    }
    EXPECT_EQ(order, (std::vector<std::string>{nbirth, dbirth, ddata, "quil/v1/g/dev/profiles"}));
    EXPECT_EQ(Seq(subscriber.On(nbirth)[0]), 0u);
    EXPECT_EQ(BirthDeathSequence(subscriber.On(nbirth)[0]), 0u);
    EXPECT_EQ(Seq(subscriber.On(dbirth)[0]), 1u);
    EXPECT_EQ(Seq(subscriber.On(ddata)[0]), 2u);
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

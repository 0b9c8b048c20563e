// Recording a virtual sensor's stream and reading a stream out, for the recording tests. Each
// test has its own loopback address and UDP ports (support/TestAddresses.h).
#pragma once

#include "support/ReadFile.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"

#include <quil/Quil.h>
#include <quil/sim/VirtualSensor.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace Varkon::QUILApi::Testing {

/// Everything a stream delivered, in order.
struct Delivered {
    std::vector<UdpStreaming::StreamProfile> profiles;
    std::vector<UdpStreaming::StreamMeasurement> measurements;
    std::vector<UdpStreaming::StreamError> errors;
    UdpStreaming::StreamStatistics statistics;
    UdpStreaming::ReplayStatistics replay;

    /// Takes what the queues hold now.
    void Drain(UdpStreaming::QuilStream& stream) {
        while (stream.HasProfile()) {
            profiles.push_back(stream.PopProfile());
        }
        while (stream.HasMeasurement()) {
            measurements.push_back(stream.PopMeasurement());
        }
        while (stream.HasError()) {
            errors.push_back(stream.PopError());
        }
    }
};

/// Entries are equal, not-a-number values included (the sensor sends NaN for values it has not).
inline bool Same(const UdpStreaming::StreamProfile& a, const UdpStreaming::StreamProfile& b) {
    return a == b;
}
inline bool Same(const UdpStreaming::StreamMeasurement& a,
                 const UdpStreaming::StreamMeasurement& b) {
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        if (std::memcmp(&a.values[i], &b.values[i], sizeof(double)) != 0) {
            return false;
        }
    }
    return std::tie(a.blockId, a.qualityID, a.flags, a.EncoderValue, a.timestamp) ==
               std::tie(b.blockId, b.qualityID, b.flags, b.EncoderValue, b.timestamp) &&
           std::memcmp(&a.measrate, &b.measrate, sizeof(double)) == 0;
}
inline bool Same(const UdpStreaming::StreamError& a, const UdpStreaming::StreamError& b) {
    return a == b;
}

/// `shorter`'s entries are the first entries of `longer`, in order.
template <class Entry>
::testing::AssertionResult IsPrefix(const std::vector<Entry>& shorter,
                                    const std::vector<Entry>& longer) {
    if (shorter.size() > longer.size()) {
        return ::testing::AssertionFailure()
               << shorter.size() << " entries, more than the " << longer.size() << " expected";
    }
    for (std::size_t i = 0; i < shorter.size(); ++i) {
        if (!Same(shorter[i], longer[i])) {
            return ::testing::AssertionFailure()
                   << "entry " << i << " differs (block " << shorter[i].blockId << " against "
                   << longer[i].blockId << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

/// A fresh folder for one test's files, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quil-rec-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

/// Replays `path` as fast as possible to its end and returns what the stream delivered.
inline Delivered ReplayAll(const std::string& path, UdpStreaming::ReplayOptions options = {}) {
    options.speed = UdpStreaming::ReplayOptions::kAsFastAsPossible;
    auto replay = UdpStreaming::RecordingReplay::Open(path, options);
    auto stream = replay->GetStream();
    stream->SetQueueCapacity(1000000);
    stream->Start();
    EXPECT_TRUE(replay->WaitUntilFinished(std::chrono::seconds(30))) << path;
    Delivered delivered;
    delivered.Drain(*stream);
    delivered.statistics = stream->GetStatistics();
    delivered.replay = replay->GetStatistics();
    return delivered;
}

/// A virtual sensor streaming profiles (data id 3) and measurements (data id 0) to a client's
/// stream, from construction to destruction.
struct StreamingSensor {
    StreamingSensor(const std::string& address, unsigned short port, double rate = 500)
        : sensor([&] {
              Sim::VirtualSensorOptions options;
              options.address = address;
              options.profileRate = rate;
              options.pointsPerProfile = 800;  // fragmented blocks: more than one datagram
              return options;
          }()),
          client([&] {
              auto created = Quil::Create(address, port);
              created->Connect();
              created->Login("operator", "operator");
              return created;
          }()),
          stream(client->GetStream()) {
        stream->SetQueueCapacity(1000000);
    }
    void Aim() {
        aim = std::make_unique<StreamOutputAim>(*client, port(), std::vector<uint32_t>{0, 3},
                                                "127.0.0.1");
    }
    unsigned short port() const { return client->GetStreamPort(); }
    /// Waits until the stream delivered `profiles` profiles.
    bool WaitForProfiles(uint64_t profiles) {
        return WaitUntil([&] { return stream->GetStatistics().profileBlocks3 >= profiles; },
                         std::chrono::seconds(30));
    }

    Sim::VirtualSensor sensor;
    std::unique_ptr<Quil> client;
    std::shared_ptr<UdpStreaming::QuilStream> stream;
    std::unique_ptr<StreamOutputAim> aim;
};

}  // namespace Varkon::QUILApi::Testing

// The profiles lane: batches of profiles in one binary message (layout in gateway/README.md).
#pragma once

#include "ChannelScale.h"
#include "Configuration.h"

#include <quil/Quil.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Varkon::QuilGateway {

/// A profile as the gateway publishes it: the stream's profile and when it arrived here.
struct ArrivedProfile {
    Varkon::QUILApi::UdpStreaming::StreamProfile profile;
    uint64_t arrivalUs = 0;  // microseconds since 1970 on this host's clock
};

inline constexpr char kProfileBatchMagic[4] = {'Q', 'P', 'R', 'F'};
inline constexpr uint8_t kProfileBatchVersion = 1;

/// One message of the profiles lane.
std::string EncodeProfileBatch(const std::string& sensor, const std::vector<ArrivedProfile>& batch,
                               uint32_t decimation, Compression compression,
                               const std::array<ChannelScale, 3>& scales);

/// Collects a sensor's profiles into messages: keeps every `decimation`-th profile and hands
/// out a message once `profilesPerMessage` are kept.
class ProfileBatcher {
public:
    explicit ProfileBatcher(const SensorSettings& settings);

    /// The message that `profile` completes, if any.
    std::optional<std::string> Add(ArrivedProfile profile);
    /// The message of the profiles kept so far, if any.
    std::optional<std::string> Flush();
    /// Profiles handed out in messages so far.
    uint64_t Published() const { return published; }
    /// The millimetres of the messages from now on (raw words until set).
    void SetScales(const std::array<ChannelScale, 3>& channelScales) { scales = channelScales; }

private:
    std::string sensor;
    uint32_t profilesPerMessage;
    uint32_t decimation;
    Compression compression;
    std::array<ChannelScale, 3> scales{};
    uint64_t seen = 0;
    uint64_t published = 0;
    std::vector<ArrivedProfile> kept;
};

}  // namespace Varkon::QuilGateway

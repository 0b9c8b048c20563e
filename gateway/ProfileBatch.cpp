#include "ProfileBatch.h"

#include "Compression.h"

#include <cstring>
#include <type_traits>

namespace Varkon::QuilGateway {
namespace {

// Little-endian writing, whatever the host's byte order.
class LittleEndianWriter {
public:
    template <class T>
    void Put(T value) {
        uint64_t bits = 0;
        if constexpr (std::is_floating_point_v<T>) {
            static_assert(sizeof(T) == 8);
            std::memcpy(&bits, &value, 8);
        } else {
            bits = static_cast<uint64_t>(value);
        }
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
        }
    }
    void PutBytes(const std::string& text) { bytes += text; }
    std::string& Bytes() { return bytes; }

private:
    std::string bytes;
};

constexpr uint8_t kCompressedZstd = 0x01;
constexpr uint8_t kHasChannel1 = 0x40;
constexpr uint8_t kHasChannel2 = 0x80;

void PutProfile(LittleEndianWriter& out, const ArrivedProfile& arrived) {
    const auto& profile = arrived.profile;
    out.Put<uint32_t>(profile.blockId);
    out.Put<uint64_t>(profile.timestamp);
    out.Put<uint64_t>(arrived.arrivalUs);
    out.Put<uint32_t>(profile.field6);
    out.Put<uint16_t>(profile.field18);
    out.Put<uint8_t>(profile.qualityID);
    uint8_t flags = 0;
    for (std::size_t i = 0; i < profile.flags.size(); ++i) {
        flags |= profile.flags[i] ? static_cast<uint8_t>(1u << i) : 0;
    }
    flags |= profile.hasChannel1 ? kHasChannel1 : 0;
    flags |= profile.hasChannel2 ? kHasChannel2 : 0;
    out.Put<uint8_t>(flags);
    out.Put<uint32_t>(profile.pointCount);
    const auto putChannel = [&](const std::vector<uint16_t>& channel) {
        for (uint32_t i = 0; i < profile.pointCount; ++i) {
            out.Put<uint16_t>(i < channel.size() ? channel[i] : 0);
        }
    };
    putChannel(profile.channel0);
    if (profile.hasChannel1) {
        putChannel(profile.channel1);
    }
    if (profile.hasChannel2) {
        putChannel(profile.channel2);
    }
}

}  // namespace

std::string EncodeProfileBatch(const std::string& sensor, const std::vector<ArrivedProfile>& batch,
                               uint32_t decimation, Compression compression,
                               const std::array<ChannelScale, 3>& scales) {
    LittleEndianWriter body;
    for (const ArrivedProfile& arrived : batch) {
        PutProfile(body, arrived);
    }
    LittleEndianWriter out;
    out.PutBytes(std::string(kProfileBatchMagic, sizeof kProfileBatchMagic));
    out.Put<uint8_t>(kProfileBatchVersion);
    out.Put<uint8_t>(compression == Compression::Zstd ? kCompressedZstd : 0);
    out.Put<uint16_t>(static_cast<uint16_t>(sensor.size()));
    out.PutBytes(sensor);
    out.Put<uint32_t>(static_cast<uint32_t>(batch.size()));
    out.Put<uint32_t>(decimation);
    for (const ChannelScale& channel : scales) {
        out.Put<double>(channel.scale);
        out.Put<double>(channel.offset);
    }
    out.PutBytes(compression == Compression::Zstd ? ZstdCompress(body.Bytes()) : body.Bytes());
    return std::move(out.Bytes());
}

ProfileBatcher::ProfileBatcher(const SensorSettings& settings)
    : sensor(settings.name),
      profilesPerMessage(settings.profilesPerMessage),
      decimation(settings.decimation),
      compression(settings.compression) {
    kept.reserve(profilesPerMessage);
}

std::optional<std::string> ProfileBatcher::Add(ArrivedProfile profile) {
    if (seen++ % decimation != 0) {
        return std::nullopt;
    }
    kept.push_back(std::move(profile));
    if (kept.size() < profilesPerMessage) {
        return std::nullopt;
    }
    return Flush();
}

std::optional<std::string> ProfileBatcher::Flush() {
    if (kept.empty()) {
        return std::nullopt;
    }
    std::string message = EncodeProfileBatch(sensor, kept, decimation, compression, scales);
    published += kept.size();
    kept.clear();
    return message;
}

}  // namespace Varkon::QuilGateway

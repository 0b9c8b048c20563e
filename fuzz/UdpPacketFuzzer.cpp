// Datagrams through the stream's packet handling, reassembly and decoding, as the stream's
// worker takes them, on a clock the input advances so that time-outs fire.
//
// Input: records of [clock step, 1 byte, in 10 ms][datagram length, 2 bytes little-endian]
// [datagram]; a length beyond the input takes the rest. Invariants: decoding fails only with
// the decoders' documented exceptions, and a profile never holds more points than the frames it
// came in could carry (so the memory it takes follows the bytes received).
#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/protocol/PayloadDecoder.h"
#include "udpstreaming/protocol/UdpStreamingProtocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming::Protocol {
namespace {

constexpr int64_t kClockStepNs = 10000000;

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Whether the block decodes, as the stream's worker tells the protocol.
bool Decode(uint32_t blockId, const std::vector<uint8_t>& payload) {
    if (payload.empty()) {
        return false;
    }
    try {
        if (payload[0] == kMeasurementData) {
            Require(DecodeMeasurement(blockId, payload).blockId == blockId);
        } else if (payload[0] <= kProfileChannels012) {
            const StreamProfile profile = DecodeProfile(blockId, payload);
            const std::size_t pointSize = 2 * (1 + profile.hasChannel1 + profile.hasChannel2);
            const std::size_t frames = std::max<std::size_t>(
                1, (payload.size() + kMaxFramePayload - 1) / kMaxFramePayload);
            Require(profile.channel0.size() == profile.pointCount);
            Require(profile.pointCount * pointSize <= frames * kMaxFramePayload);
        }
        return payload[0] <= kProfileChannels012;
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    } catch (const std::length_error&) {
    }
    return false;
}

}  // namespace
}  // namespace Varkon::QUILApi::UdpStreaming::Protocol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Varkon::QUILApi::UdpStreaming::Protocol;
    int64_t now = 0;
    UdpStreamingProtocol protocol([&now] { return now; });
    protocol.SetDataCallback([](const uint32_t blockId, std::vector<uint8_t> payload) {
        return Decode(blockId, payload);
    });
    protocol.SetErrorCallback([](const uint32_t, Varkon::QUILApi::UdpStreaming::PacketErrorType,
                                 std::string message) { Require(!message.empty()); });
    std::size_t at = 0;
    while (at + 3 <= size) {
        now += data[at] * kClockStepNs;
        const std::size_t length =
            std::min<std::size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
        at += 3;
        protocol.HandlePacket(std::vector<uint8_t>(data + at, data + at + length));
        at += length;
    }
    return 0;
}

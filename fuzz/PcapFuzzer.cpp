// Capture files through the capture reader, as RecordingReplay and RecordingReader take them:
// pcap and pcapng of every link type, IPv4 reassembly, and the pacing of a replay at its
// slowest and fastest speeds. Invariants: a damaged file fails only with the reader's
// documented exceptions, a datagram is never longer than an IPv4 packet can carry, and its
// length as sent is never below what was captured.
#include <quil/ReplayPace.h>
#include "udpstreaming/recording/PcapDatagramReader.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

using namespace Varkon::QUILApi::UdpStreaming::Recording;

constexpr int kMostDatagrams = 100000;  // of one input

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The reader takes a path: each input goes through one file of this process.
const std::string& InputPath() {
    static const std::string path = "/tmp/quil-pcap-fuzz-" + std::to_string(::getpid());
    return path;
}

bool WriteInput(const uint8_t* data, std::size_t size) {
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!WriteInput(data, size)) {
        return 0;
    }
    try {
        PcapDatagramReader reader({InputPath()});
        ReplayPace slowest(ReplayPace::kSlowest);
        ReplayPace fastest(ReplayPace::kFastest);
        const auto now = ReplayPace::Clock::now();
        Varkon::QUILApi::UdpStreaming::RecordedDatagram datagram;
        for (int i = 0; i < kMostDatagrams && reader.Next(datagram); ++i) {
            Require(datagram.bytes.size() <= Ipv4Reassembler::kMaxPayload);
            Require(datagram.wireSize >= datagram.bytes.size());
            // Pacing never waits beyond its limit per datagram, whatever the time stamps.
            Require(slowest.Due(datagram.timeNanoseconds, now) - now <=
                    (i + 1) * ReplayPace::kLongestWait);
            Require(fastest.Due(datagram.timeNanoseconds, now) - now <=
                    (i + 1) * ReplayPace::kLongestWait);
        }
        const auto& statistics = reader.Statistics();
        Require(statistics.recordsRead >= statistics.recordsNotUdp + statistics.recordsMalformed);
    } catch (const std::runtime_error&) {
        // "Could not open recording ..." or "Recording ... is damaged: ..."
    }
    return 0;
}

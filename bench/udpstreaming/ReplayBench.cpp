// Replay as fast as possible: datagrams per second that a replay reads from a capture in the
// page cache and decodes into the stream's queues, drained by an application thread on the
// other core, beside the capture reader alone, for three kinds of traffic: measurements only (one
// datagram per block), small profiles (data id 3, 300 points, one datagram per block), and the
// throughput benchmark's cycle of one fragmented 2000-point profile (6 datagrams) and one
// measurement.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <quil/Quil.h>

#include "udpstreaming/StreamPackets.h"
#include "udpstreaming/recording/DatagramRing.h"
#include "udpstreaming/recording/PcapDatagramReader.h"
#include "udpstreaming/recording/PcapWriter.h"

namespace {

using namespace Varkon::QUILApi;
using Clock = std::chrono::steady_clock;
using Testing::Bytes;
using UdpStreaming::RecordingReplay;
using UdpStreaming::ReplayOptions;
using UdpStreaming::Recording::DatagramRing;
using UdpStreaming::Recording::PcapWriter;

constexpr std::size_t kDatagrams = 2'000'000;
constexpr int kRepeats = 5;  // the median and the spread are reported
const char* const kCapture = "/tmp/quil-replay-bench.pcap";

void PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu % static_cast<int>(std::thread::hardware_concurrency()), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Writes about kDatagrams datagrams: the cycle's datagrams over and over, block ids counting up.
std::size_t WriteCapture(const std::vector<std::vector<Bytes>>& cycle) {
    PcapWriter writer(kCapture, 29999);
    DatagramRing::Slot slot{};
    std::size_t written = 0;
    uint32_t blockId = 1;
    while (written < kDatagrams) {
        for (const auto& block : cycle) {
            for (Bytes datagram : block) {
                Testing::PutLittleEndian(datagram, 0, blockId);
                slot.arrivalMicroseconds = 1'700'000'000'000'000 + static_cast<int64_t>(written);
                slot.senderAddress = 0x7F000001;
                slot.senderPort = 5000;
                slot.size = slot.wireSize = static_cast<uint32_t>(datagram.size());
                std::copy(datagram.begin(), datagram.end(), slot.Datagram());
                writer.Write(slot);
                ++written;
            }
            ++blockId;
        }
    }
    writer.Close();
    return written;
}

void Measure(const char* name, const std::vector<std::vector<Bytes>>& cycle) {
    const std::size_t datagrams = WriteCapture(cycle);
    {
        std::ifstream warm(kCapture, std::ios::binary);  // into the page cache
        std::vector<char> buffer(1 << 20);
        while (warm.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
        }
    }
    {
        // The capture reader alone, without the stream.
        UdpStreaming::Recording::PcapDatagramReader reader({kCapture});
        UdpStreaming::RecordedDatagram datagram;
        std::size_t read = 0;
        const auto start = Clock::now();
        while (reader.Next(datagram)) {
            ++read;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("  %-40s reading alone: %.2f million datagrams/s\n", name,
                    static_cast<double>(read) / seconds / 1e6);
    }
    std::vector<double> rates;
    for (int run = 0; run < kRepeats; ++run) {
        PinTo(0);  // the stream's worker inherits this core
        ReplayOptions options;
        options.speed = ReplayOptions::kAsFastAsPossible;
        auto replay = RecordingReplay::Open(kCapture, options);
        auto stream = replay->GetStream();
        std::size_t entries = 0;
        bool done = false;
        std::thread application([&] {
            PinTo(1);
            while (!done || stream->WaitForData(std::chrono::milliseconds(0))) {
                if (!stream->WaitForData(std::chrono::milliseconds(10))) {
                    continue;
                }
                while (stream->PopProfileFor(std::chrono::milliseconds(0))) {
                    ++entries;
                }
                while (stream->PopMeasurementFor(std::chrono::milliseconds(0))) {
                    ++entries;
                }
                while (stream->PopErrorFor(std::chrono::milliseconds(0))) {
                }
            }
        });
        const auto start = Clock::now();
        stream->Start();
        replay->WaitUntilFinished(std::chrono::minutes(2));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        done = true;
        application.join();
        const auto statistics = stream->GetStatistics();
        const double rate = static_cast<double>(statistics.datagramsReceived) / seconds;
        std::printf(
            "  %-40s %zu datagrams in %.3f s: %.2f million datagrams/s (%zu entries, "
            "%llu dropped)\n",
            name, datagrams, seconds, rate / 1e6, entries,
            static_cast<unsigned long long>(statistics.profilesDropped +
                                            statistics.measurementsDropped));
        rates.push_back(rate);
    }
    std::sort(rates.begin(), rates.end());
    const double median = rates[rates.size() / 2];
    std::printf("%s: %.2f (%.2f to %.2f in %d runs) million datagrams/s, target >= 1: %s\n", name,
                median / 1e6, rates.front() / 1e6, rates.back() / 1e6, kRepeats,
                median >= 1e6 ? "met" : "NOT met");
    std::remove(kCapture);
}

}  // namespace

// quil_udpstreaming_replay_bench [WORD]: only the kinds of traffic whose name holds WORD.
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const Bytes measurement = Testing::MeasurementPayload(Testing::MeasurementFields{});
    const std::vector<std::pair<const char*, std::vector<std::vector<Bytes>>>> kinds = {
        {"measurements", {{Testing::WholeBlock(0, measurement)}}},
        {"profiles of 300 points, one datagram",
         {{Testing::WholeBlock(0, Testing::SyntheticProfile(3, 300))}}},
        {"2000-point profile in 6 + measurement",
         {Testing::Fragments(0, Testing::SyntheticProfile(3, 2000)),
          {Testing::WholeBlock(0, measurement)}}},
    };
    std::printf("replay as fast as possible, from the page cache:\n");
    for (const auto& [name, cycle] : kinds) {
        if (std::string(name).find(only) != std::string::npos) {
            Measure(name, cycle);
        }
    }
    return 0;
}

// Cost of decoding a profile per point, into new channels (DecodeProfile) and into reused ones as
// the stream's worker does (DecodeProfileInto), against a floor that reads the same bytes point by
// point into vectors that are reused and never checked.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "udpstreaming/StreamPackets.h"
#include "udpstreaming/protocol/PacketFormat.h"
#include "udpstreaming/protocol/PayloadDecoder.h"

namespace {

using namespace Varkon::QUILApi::UdpStreaming;
constexpr uint32_t kPoints = 2000;

void DecodeProfile(benchmark::State& state) {
    const auto payload =
        Varkon::QUILApi::Testing::SyntheticProfile(static_cast<uint8_t>(state.range(0)), kPoints);
    for (auto _ : state) {
        StreamProfile profile = Protocol::DecodeProfile(1, payload);
        benchmark::DoNotOptimize(profile.channel0.data());
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void DecodeProfileInto(benchmark::State& state) {
    const auto payload =
        Varkon::QUILApi::Testing::SyntheticProfile(static_cast<uint8_t>(state.range(0)), kPoints);
    StreamProfile profile;
    for (auto _ : state) {
        Protocol::DecodeProfileInto(1, payload, profile);
        benchmark::DoNotOptimize(profile.channel0.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void DecodeFloor(benchmark::State& state) {
    const auto dataId = static_cast<uint8_t>(state.range(0));
    const auto payload = Varkon::QUILApi::Testing::SyntheticProfile(dataId, kPoints);
    const bool hasChannel1 = dataId != 2;
    const bool hasChannel2 = dataId != 1;
    std::vector<uint16_t> channel0(kPoints), channel1(kPoints), channel2(kPoints);
    for (auto _ : state) {
        const uint8_t* p = payload.data() + 24;
        for (uint32_t i = 0; i < kPoints; ++i) {
            channel0[i] = Protocol::ReadLittleEndian<uint16_t>(p);
            p += 2;
            if (hasChannel1) {
                channel1[i] = Protocol::ReadLittleEndian<uint16_t>(p);
                p += 2;
            }
            if (hasChannel2) {
                channel2[i] = Protocol::ReadLittleEndian<uint16_t>(p);
                p += 2;
            }
        }
        benchmark::DoNotOptimize(channel0.data());
        benchmark::DoNotOptimize(channel1.data());
        benchmark::DoNotOptimize(channel2.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void DecodeMeasurement(benchmark::State& state) {
    const auto payload =
        Varkon::QUILApi::Testing::MeasurementPayload(Varkon::QUILApi::Testing::MeasurementFields{});
    for (auto _ : state) {
        benchmark::DoNotOptimize(Protocol::DecodeMeasurement(1, payload));
    }
}

BENCHMARK(DecodeProfile)->Arg(1)->Arg(3);
BENCHMARK(DecodeProfileInto)->Arg(1)->Arg(3);
BENCHMARK(DecodeFloor)->Arg(1)->Arg(3);
BENCHMARK(DecodeMeasurement);

// Prints the usual table, then each decoder's cost per point beside its floor.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                nsPerPoint[run.benchmark_name()] =
                    run.GetAdjustedRealTime() / kPoints;  // time unit is ns
            }
        }
    }

    void PrintRatios() const {
        for (const char* id : {"1", "3"}) {
            const auto floor = nsPerPoint.find(std::string("DecodeFloor/") + id);
            for (const char* decoder : {"DecodeProfile", "DecodeProfileInto"}) {
                const auto decode = nsPerPoint.find(std::string(decoder) + "/" + id);
                if (decode != nsPerPoint.end() && floor != nsPerPoint.end()) {
                    const double ratio = decode->second / floor->second;
                    std::printf(
                        "data id %s: %-17s %.3f ns/point, floor %.3f ns/point, ratio %.2f, "
                        "target <= 1.2: %s\n",
                        id, decoder, decode->second, floor->second, ratio,
                        ratio <= 1.2 ? "met" : "NOT met");
                }
            }
        }
    }

private:
    std::map<std::string, double> nsPerPoint;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

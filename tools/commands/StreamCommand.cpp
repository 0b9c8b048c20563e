// quil stream: capture the sensor's UDP stream to a file.
#include "Commands.h"
#include "StreamCapture.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace QuilTool {
namespace {

struct StreamOptions {
    uint16_t port = 5000;
    std::vector<uint32_t> dataIds{1};
    std::size_t count = 0;
    double seconds = 0;
    std::string format = "csv";
    std::string output = "-";
    double yStep = 1.0;
};

// How far the capture is: by blocks when a count was given, else by time.
double Share(const CaptureCounts& counts, const CaptureLimits& limits) {
    const uint64_t counted = limits.countProfiles ? counts.profiles : counts.measurements;
    if (limits.count != 0) {
        return static_cast<double>(counted) / static_cast<double>(limits.count);
    }
    const double total = std::chrono::duration<double>(limits.duration).count();
    return total > 0 ? counts.elapsed.count() / total : 0.0;
}

void ShowProgress(const CaptureCounts& counts, const CaptureLimits& limits, bool terminal) {
    const double seconds = counts.elapsed.count();
    const double rate = seconds > 0 ? static_cast<double>(counts.Blocks()) / seconds : 0.0;
    if (terminal) {
        constexpr int kWidth = 30;
        const double share = std::min(1.0, Share(counts, limits));
        const int filled = static_cast<int>(share * kWidth);
        std::fprintf(stderr, "\r[%-*s] %llu blocks  %.0f/s  lost %llu ", kWidth,
                     std::string(static_cast<std::size_t>(filled), '=').c_str(),
                     static_cast<unsigned long long>(counts.Blocks()), rate,
                     static_cast<unsigned long long>(counts.lost));
    } else {
        std::fprintf(stderr, "%llu blocks, %.0f/s, lost %llu\n",
                     static_cast<unsigned long long>(counts.Blocks()), rate,
                     static_cast<unsigned long long>(counts.lost));
    }
}

}  // namespace

void AddStreamCommand(CLI::App& app, Context& context) {
    static StreamOptions options;
    auto* command = app.add_subcommand(
        "stream",
        "Aim the sensor's UDP output at this host, capture profiles or measurements "
        "and write them as CSV, JSON Lines or a PLY point cloud");
    AddCommonOptions(*command, context, false);
    command->add_option("--port", options.port, "Local UDP port to receive on")
        ->capture_default_str();
    command
        ->add_option("--data-ids", options.dataIds,
                     "Data ids to stream: 0 measurements, 1-3 profiles")
        ->capture_default_str();
    command->add_option("--count", options.count,
                        "Stop after this many profiles (measurements "
                        "when only data id 0 is streamed)");
    command->add_option("--seconds", options.seconds, "Stop after this many seconds");
    command->add_option("--format", options.format, "csv, jsonl or ply")
        ->check(CLI::IsMember({"csv", "jsonl", "ply"}))
        ->capture_default_str();
    command->add_option("--output,-o", options.output, "File to write, - for standard output")
        ->capture_default_str();
    command->add_option("--y-step", options.yStep, "Distance between profiles in a PLY cloud")
        ->capture_default_str();
    command->callback([&context] {
        if (options.count == 0 && options.seconds <= 0) {
            throw std::invalid_argument("give --count or --seconds");
        }
        std::ofstream file;
        if (options.output != "-") {
            file.open(options.output, std::ios::binary);
            if (!file) {
                throw std::runtime_error("cannot write " + options.output);
            }
        }
        std::ostream& data = options.output == "-" ? *context.out : file;
        std::ostream& report = options.output == "-" ? *context.err : *context.out;

        CaptureLimits limits;
        limits.count = options.count;
        limits.duration = std::chrono::milliseconds(static_cast<long>(options.seconds * 1000));
        limits.countProfiles = std::any_of(options.dataIds.begin(), options.dataIds.end(),
                                           [](uint32_t id) { return id >= 1 && id <= 3; });
        const auto writer = MakeCaptureWriter(options.format, data, options.yStep);
        const bool terminal = isatty(STDERR_FILENO) != 0;
        auto quil = context.Connect(options.port);
        const CaptureCounts counts = CaptureFromSensor(
            *quil, context.host, options.port, options.dataIds, limits, *writer,
            [&](const CaptureCounts& now) { ShowProgress(now, limits, terminal); });
        if (terminal) {
            std::fputc('\n', stderr);
        }
        quil->Disconnect();
        if (file.is_open()) {
            file.close();
            if (!file) {
                throw std::runtime_error("cannot write " + options.output);
            }
        }
        PrintCaptureSummary(report, counts);
    });
}

}  // namespace QuilTool

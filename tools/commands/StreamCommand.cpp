// quil stream: capture the sensor's UDP stream to a file.
#include "Commands.h"
#include "Interruption.h"
#include "Settings.h"
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
    CaptureTarget target;
    std::size_t count = 0;
    double seconds = 0;
    std::string format = "csv";
    std::string output = "-";
    double yStep = 1.0;
    bool allowLoss = false;
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

// A progress bar on a terminal; nothing elsewhere, where standard error holds failures only.
void ShowProgress(const CaptureCounts& counts, const CaptureLimits& limits, bool terminal) {
    if (!terminal) {
        return;
    }
    const double seconds = counts.elapsed.count();
    const double rate = seconds > 0 ? static_cast<double>(counts.Blocks()) / seconds : 0.0;
    constexpr int kWidth = 30;
    const double share = std::min(1.0, Share(counts, limits));
    const int filled = static_cast<int>(share * kWidth);
    std::fprintf(stderr, "\r[%-*s] %llu blocks  %.0f/s  lost %llu ", kWidth,
                 std::string(static_cast<std::size_t>(filled), '=').c_str(),
                 static_cast<unsigned long long>(counts.Blocks()), rate,
                 static_cast<unsigned long long>(counts.Lost()));
}

// Hands records on and checks after each that the output took them.
class CheckedWriter : public CaptureWriter {
public:
    CheckedWriter(CaptureWriter& writer, std::ostream& out, std::string destination)
        : writer(writer), out(out), destination(std::move(destination)) {}
    void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) override {
        writer.Write(profile);
        Check();
    }
    void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement& measurement) override {
        writer.Write(measurement);
        Check();
    }
    void Finish() override {
        writer.Finish();
        out.flush();
        Check();
    }

private:
    void Check() const {
        if (!out) {
            ThrowWriteFailure(destination);
        }
    }

    CaptureWriter& writer;
    std::ostream& out;
    std::string destination;
};

// @throws InvalidValue unless the sensor offers every data id.
void CheckDataIds(Varkon::QUILApi::Quil& quil, const std::vector<uint32_t>& ids) {
    auto rules = FindSetting("udp-stream-data").rules(quil);
    rules.front().member.clear();
    CheckValue("--data-ids", rules, nlohmann::json(ids));
}

void Stream(Context& context, const StreamOptions& options) {
    if (options.count == 0 && options.seconds <= 0) {
        throw UsageError("give --count or --seconds");
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
    const auto& ids = options.target.dataIds;
    limits.countProfiles =
        std::any_of(ids.begin(), ids.end(), [](uint32_t id) { return id >= 1 && id <= 3; });
    const bool terminal = isatty(STDERR_FILENO) != 0;
    auto quil = context.Connect(options.target.port);
    CheckDataIds(*quil, ids);
    const ProfileScale scale = options.format == "ply" ? ProfileScale::Read(*quil) : ProfileScale{};
    const auto writer = MakeCaptureWriter(options.format, data, scale, options.yStep);
    CheckedWriter checked(*writer, data,
                          options.output == "-" ? "standard output" : options.output);
    const CaptureCounts counts =
        CaptureFromSensor(context, *quil, options.target, limits, checked,
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
    report << context.Render(CaptureSummaryJson(counts), CaptureSummary(counts)) << std::flush;
    if (counts.LostData() && !options.allowLoss) {
        throw DataLost("the capture lost data (" + std::to_string(counts.Lost()) +
                       " blocks lost); give --allow-loss to accept loss");
    }
}

}  // namespace

void AddStreamCommand(CLI::App& app, Context& context) {
    static StreamOptions options;
    auto* command = app.add_subcommand(
        "stream",
        "Aim the sensor's UDP output at this host, capture profiles or measurements and write "
        "them as CSV, JSON Lines or a PLY point cloud; the sensor's output is put back "
        "afterwards, also after Ctrl-C. Exit status 3 when data was lost");
    SetExamples(
        *command,
        {"quil stream --count 500 --format ply -o scan.ply --role maintenance",
         "quil stream --seconds 1 --data-ids 0 --format jsonl --role maintenance | head -3"});
    AddCommonOptions(*command, context);
    AddStreamOptions(*command, context);
    command->add_option("--port", options.target.port, "Local UDP port to receive on")
        ->envname("QUIL_PORT")
        ->capture_default_str();
    command
        ->add_option("--data-ids", options.target.dataIds,
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
    command
        ->add_option("--y-step", options.yStep,
                     "Distance between consecutive profiles in a PLY cloud, in the sensor's x "
                     "unit")
        ->capture_default_str();
    command->add_flag("--allow-loss", options.allowLoss,
                      "Exit with status 0 even when data was lost");
    command->callback([&context] { Stream(context, options); });
}

}  // namespace QuilTool

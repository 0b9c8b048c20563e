// quil stream: capture the sensor's UDP stream to a file.
#include "Commands.h"
#include "Interruption.h"
#include "NamedSettings.h"
#include "StreamCapture.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace QuilTool {
namespace {

struct StreamOptions : CaptureRequest {
    std::string format = "csv";
    std::string output = "-";
    double yStep = 1.0;
    std::string from;  // a recording to read instead of the sensor
};

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

void Stream(Context& context, const StreamOptions& options) {
    if (options.count == 0 && options.seconds <= 0 && options.from.empty()) {
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

    const CaptureLimits limits = options.Limits();
    const auto& ids = options.target.dataIds;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const auto progress = [&](const CaptureCounts& now) {
        ShowCaptureProgress(now, limits, terminal);
    };
    const std::string destination = options.output == "-" ? "standard output" : options.output;
    CaptureCounts counts;
    if (!options.from.empty()) {
        RecordingSource recording(options.from);
        const auto writer = MakeCaptureWriter(options.format, data, recording.Scale(),
                                              options.yStep, recording.BlockIdStep());
        CheckedWriter checked(*writer, data, destination);
        counts = recording.Capture(limits, checked, progress);
    } else {
        auto quil = context.Connect(options.target.port);
        CheckStreamDataIds(*quil, ids);
        const ProfileScale scale =
            options.format == "ply" ? ProfileScale::Read(*quil) : ProfileScale{};
        const auto writer =
            MakeCaptureWriter(options.format, data, scale, options.yStep, BlockIdStep(ids));
        CheckedWriter checked(*writer, data, destination);
        counts = CaptureFromSensor(context, *quil, options.target, limits, checked, progress);
        quil->Disconnect();
    }
    if (terminal) {
        std::fputc('\n', stderr);
    }
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

void AddCaptureOptions(CLI::App& command, CaptureRequest& request, Context& context) {
    context
        .FallBackOnEnvironment(
            command,
            command.add_option("--port", request.target.port, "Local UDP port to receive on"),
            "QUIL_PORT")
        ->capture_default_str();
    command
        .add_option("--data-ids", request.target.dataIds,
                    "Data ids to stream: 0 measurements, 1-3 profiles")
        ->capture_default_str();
    command.add_option("--count", request.count,
                       "Stop after this many profiles (measurements when only data id 0 is "
                       "streamed)");
    command.add_option("--seconds", request.seconds, "Stop after this many seconds");
    command.add_flag("--allow-loss", request.allowLoss,
                     "Exit with status 0 even when data was lost");
}

void AddStreamCommand(CLI::App& app, Context& context) {
    static StreamOptions options;
    auto* command = app.add_subcommand(
        "stream",
        "Aim the sensor's UDP output at this host, capture profiles or measurements and write "
        "them as CSV, JSON Lines or a PLY point cloud; the sensor's output is put back "
        "afterwards, also after Ctrl-C. Exit status 3 when data was lost");
    SetExamples(*command,
                {"quil stream --count 500 --format ply -o scan.ply --role maintenance",
                 "quil stream --seconds 1 --data-ids 0 --format jsonl --role maintenance | head -3",
                 "quil stream --from line.pcap --format csv -o line.csv"});
    AddCommonOptions(*command, context);
    AddStreamOptions(*command, context);
    AddCaptureOptions(*command, options, context);
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
    command->add_option("--from", options.from,
                        "Read a recording (see record) instead of the sensor, to its end unless "
                        "--count or --seconds ends it first");
    command->callback([&context] { Stream(context, options); });
}

}  // namespace QuilTool

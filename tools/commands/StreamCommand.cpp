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
    CaptureFormat format;
    std::string output = "-";
    std::string from;  // a recording to read instead of the sensor
};

// The format whose name is the suffix of `path` ("scan.pcd": pcd), else CSV.
std::string FormatOf(const std::string& path) {
    const auto dot = path.rfind('.');
    const std::string suffix = dot == std::string::npos ? "" : path.substr(dot + 1);
    const bool known =
        std::find(kCaptureFormats.begin(), kCaptureFormats.end(), suffix) != kCaptureFormats.end();
    return known ? suffix : "csv";
}

// "out.csv" gives "out.measurements.csv".
std::string MeasurementsPath(const std::string& path) {
    const std::string suffix = ".csv";
    const bool csv = path.size() > suffix.size() &&
                     path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    return (csv ? path.substr(0, path.size() - suffix.size()) : path) + ".measurements.csv";
}

std::ofstream OpenOutput(const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    return file;
}

void CloseOutput(std::ofstream& file, const std::string& path) {
    if (file.is_open()) {
        file.close();
        if (!file) {
            throw std::runtime_error("cannot write " + path);
        }
    }
}

// Hands records on and checks after each that the outputs took them.
class CheckedWriter : public CaptureWriter {
public:
    CheckedWriter(CaptureWriter& writer, std::ostream& out, std::string destination,
                  std::ostream* second = nullptr, std::string secondDestination = {})
        : writer(writer),
          out(out),
          destination(std::move(destination)),
          second(second),
          secondDestination(std::move(secondDestination)) {}
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
        if (second) {
            second->flush();
        }
        Check();
    }

private:
    void Check() const {
        if (!out) {
            ThrowWriteFailure(destination);
        }
        if (second && !*second) {
            ThrowWriteFailure(secondDestination);
        }
    }

    CaptureWriter& writer;
    std::ostream& out;
    std::string destination;
    std::ostream* second;
    std::string secondDestination;
};

void Stream(Context& context, StreamOptions options) {
    namespace Api = Varkon::QUILApi;
    if (options.format.format.empty()) {
        options.format.format = FormatOf(options.output);
    }
    std::unique_ptr<RecordingSource> recording;
    if (!options.from.empty()) {
        recording = std::make_unique<RecordingSource>(options.from);
        options.format.dataIds = recording->DataIds();
        options.format.blockIdStep = recording->BlockIdStep();
    } else {
        options.format.dataIds = options.target.dataIds;
        options.format.blockIdStep = BlockIdStep(options.target.dataIds);
    }
    const bool toStandardOutput = options.output == "-";
    // A CSV file holds one table: measurements beside profiles go to a second file.
    const bool twoTables =
        options.format.format == "csv" && CarriesBothKinds(options.format.dataIds);
    if (twoTables && toStandardOutput) {
        throw UsageError(
            "profiles and measurements go to two CSV files: give --output FILE (the "
            "measurements go beside it), or write JSON Lines (--format jsonl)");
    }
    const std::string measurementsPath = twoTables ? MeasurementsPath(options.output) : "";
    std::ofstream file;
    std::ofstream measurementsFile;
    if (!toStandardOutput) {
        file = OpenOutput(options.output);
    }
    if (twoTables) {
        measurementsFile = OpenOutput(measurementsPath);
    }
    std::ostream& data = toStandardOutput ? *context.out : file;
    std::ostream& report = toStandardOutput ? *context.err : *context.out;
    const CaptureOutputs outputs{&data, twoTables ? &measurementsFile : &data};

    CaptureLimits limits = options.Limits();
    limits.untilInterrupted = options.count == 0 && options.seconds <= 0 && !recording;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const auto progress = [&](const CaptureCounts& now) {
        ShowCaptureProgress(now, limits, terminal);
    };
    const std::string destination = toStandardOutput ? "standard output" : options.output;
    CaptureCounts counts;
    if (recording) {
        const auto writer = MakeCaptureWriter(options.format, recording->Coordinates(), outputs);
        CheckedWriter checked(*writer, data, destination, outputs.measurements, measurementsPath);
        counts = recording->Capture(limits, checked, progress);
    } else {
        auto quil = context.Connect(options.target.port);
        CheckStreamDataIds(*quil, options.target.dataIds);
        options.format.sensor = quil->GetSensorMetaData();
        const auto writer =
            MakeCaptureWriter(options.format, Api::ProfileCoordinates::Read(*quil), outputs);
        CheckedWriter checked(*writer, data, destination, outputs.measurements, measurementsPath);
        if (limits.untilInterrupted && terminal) {
            std::fputs("quil: streaming until Ctrl-C\n", stderr);
        }
        counts = CaptureFromSensor(context, *quil, options.target, limits, checked, progress);
        quil->Disconnect();
    }
    if (terminal) {
        std::fputc('\n', stderr);
    }
    CloseOutput(file, options.output);
    CloseOutput(measurementsFile, measurementsPath);
    nlohmann::json summary = CaptureSummaryJson(counts);
    std::string text = CaptureSummary(counts);
    if (!toStandardOutput) {
        summary["files"] = {{"profiles", options.output}};
        text += "files: " + options.output;
        if (twoTables) {
            summary["files"] = {{"profiles", options.output}, {"measurements", measurementsPath}};
            text += " (profiles), " + measurementsPath + " (measurements)";
        }
        text += "\n";
    }
    report << context.Render(summary, text) << std::flush;
    ThrowIfDamaged(counts);
    if (counts.LostData() && !options.allowLoss) {
        throw DataLost("the capture lost " + counts.LostInWords() +
                       "; give --allow-loss to accept loss");
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
    command.add_option("--seconds", request.seconds,
                       "Stop after this many seconds of the sensor's time, from the first block "
                       "received; what was sent before is written to the end");
    command.add_flag("--allow-loss", request.allowLoss,
                     "Exit with status 0 even when data was lost");
}

void AddStreamCommand(CLI::App& app, Context& context) {
    static StreamOptions options;
    auto* command = app.add_subcommand(
        "stream",
        "Aim the sensor's UDP output at this host, capture profiles or measurements and write "
        "them in millimetres as CSV, JSON Lines or a PLY or PCD point cloud, until --count, "
        "--seconds "
        "or Ctrl-C; the sensor's output is put back afterwards. Every block lost is counted by "
        "cause; exit status 3 when data was lost");
    SetExamples(*command,
                {"quil stream --count 500 -o scan.ply --role maintenance",
                 "quil stream --count 500 -o scan.pcd --role maintenance",
                 "quil stream --seconds 2 --data-ids 0 1 -o line.csv --role maintenance",
                 "quil stream --seconds 1 --data-ids 0 --format jsonl --role maintenance | head -3",
                 "quil stream --from line.pcap --format csv -o line.csv",
                 "quil stream --from box/kept/jam-0812 -o jam.csv"});
    AddCommonOptions(*command, context);
    AddStreamOptions(*command, context);
    AddCaptureOptions(*command, options, context);
    options.format.format.clear();  // by the output's suffix unless --format is given
    command
        ->add_option("--format", options.format.format,
                     "csv, jsonl, ply or pcd (a point cloud for the point-cloud library: x, y, z "
                     "in mm and the brightness as intensity); default: the output's suffix, else "
                     "csv")
        ->check(CLI::IsMember(kCaptureFormats));
    command->add_option("--output,-o", options.output, "File to write, - for standard output")
        ->capture_default_str();
    command
        ->add_option("--y-step", options.format.yStep,
                     "Distance between consecutive profiles in a point cloud, in millimetres")
        ->capture_default_str();
    command->add_flag("--raw", options.format.raw,
                      "CSV and JSON Lines: the channels as the sensor's 16-bit words instead of "
                      "millimetres");
    command->add_flag("--ascii", options.format.ascii, "PLY: text instead of binary little-endian");
    command->add_option("--from", options.from,
                        "Read a recording (see record) instead of the sensor, to its end unless "
                        "--count or --seconds ends it first; a folder of pieces (a black box's "
                        "kept recording) is read as one");
    command->callback([&context] { Stream(context, options); });
}

}  // namespace QuilTool

// quil record and quil replay: raw stream recordings in pcap, with a description file beside.
#include <quil/ReplayPace.h>
#include "Commands.h"
#include "Counted.h"
#include "Document.h"
#include "Interruption.h"
#include "NamedSettings.h"
#include "StreamCapture.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <thread>

namespace QuilTool {
namespace {

using Varkon::QUILApi::UdpStreaming::QuilStream;
using Varkon::QUILApi::UdpStreaming::RecordingStatus;
using Varkon::QUILApi::UdpStreaming::Recording::ReplayPace;

struct RecordOptions : CaptureRequest {
    std::string path;
};

// A capture that keeps nothing: the recording is the capture's file.
class CountingWriter : public CaptureWriter {
public:
    void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile&) override {}
    void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement&) override {}
    void Finish() override {}
};

nlohmann::json RecordingJson(const RecordingStatus& status) {
    return {{"file", status.path},
            {"description", status.descriptionPath},
            {"datagramsWritten", status.datagramsWritten},
            {"datagramsDropped", status.datagramsDropped},
            {"error", status.error}};
}

void Record(Context& context, const RecordOptions& options) {
    if (options.count == 0 && options.seconds <= 0) {
        throw UsageError("give --count or --seconds");
    }
    const CaptureLimits limits = options.Limits();
    const auto& ids = options.target.dataIds;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    auto quil = context.Connect(options.target.port);
    CheckStreamDataIds(*quil, ids);
    // The sensor as it is before its output is aimed here: identity, descriptions and every
    // setting of `config save`; what the recording asked for goes beside.
    auto sensor = nlohmann::json::parse(Varkon::QUILApi::DescribeSensorForRecording(
        *quil, Varkon::QUILApi::Catalogue::ReadDocument(*quil).dump()));
    sensor["recordedDataIds"] = ids;
    Varkon::QUILApi::UdpStreaming::RecordingOptions recording;
    recording.sensorDescription = sensor.dump();
    std::shared_ptr<QuilStream> stream;
    CountingWriter writer;
    const CaptureCounts counts = CaptureFromSensor(
        context, *quil, options.target, limits, writer,
        [&](const CaptureCounts& now) { ShowCaptureProgress(now, limits, terminal); },
        [&](QuilStream& started) { started.StartRecording(options.path, recording); });
    if (terminal) {
        std::fputc('\n', stderr);
    }
    // Closing the stream completed the recording and its description.
    const RecordingStatus status = quil->GetStream()->GetRecordingStatus();
    quil->Disconnect();
    if (!status.error.empty()) {
        throw std::runtime_error(status.error);
    }
    nlohmann::json document = CaptureSummaryJson(counts);
    document["recording"] = RecordingJson(status);
    std::string text = "recorded " + Counted(status.datagramsWritten, "datagram") + " to " +
                       status.path + " (described in " + status.descriptionPath + ")\n";
    if (status.datagramsDropped != 0) {
        text += Counted(status.datagramsDropped, "datagram",
                        " missing from the recording (not written in time)\n");
    }
    context.Print(document, CaptureSummary(counts) + text);
    if ((counts.LostData() || status.datagramsDropped != 0) && !options.allowLoss) {
        throw DataLost("the recording lost data (" + Counted(counts.Lost(), "block") + " lost, " +
                       Counted(status.datagramsDropped, "datagram") +
                       " not written); give --allow-loss to accept loss");
    }
}

struct ReplayOptions {
    std::string path;
    std::string to;
    std::string rate = "1";
    uint16_t port = 0;
    bool loop = false;
};

// "HOST:PORT" as an IPv4 address; @throws UsageError otherwise.
sockaddr_in Destination(const std::string& text) {
    const auto colon = text.rfind(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    unsigned long port = 0;
    try {
        std::size_t used = 0;
        port = colon == std::string::npos ? 0 : std::stoul(text.substr(colon + 1), &used);
        if (used != text.size() - colon - 1) {
            port = 0;
        }
    } catch (const std::exception&) {
        port = 0;
    }
    if (port == 0 || port > 65535 ||
        inet_pton(AF_INET, text.substr(0, colon).c_str(), &address.sin_addr) != 1) {
        throw UsageError("--to must be an IPv4 address and a port, e.g. 127.0.0.1:5000; got \"" +
                         text + "\"");
    }
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// "max" as fast as possible (0), else a multiple of the recorded pace within ReplayPace's range.
double Speed(const std::string& text) {
    if (text == "max") {
        return 0;
    }
    try {
        std::size_t used = 0;
        const double speed = std::stod(text, &used);
        if (used == text.size() && ReplayPace::Allowed(speed)) {
            return speed;
        }
    } catch (const std::exception&) {
    }
    throw UsageError("--rate must be a multiple of the recorded pace from " +
                     ReplayPace::RangeText() + ", or max; got \"" + text + "\"");
}

void Replay(Context& context, const ReplayOptions& options) {
    const sockaddr_in destination = Destination(options.to);
    const double speed = Speed(options.rate);
    auto reader = Varkon::QUILApi::UdpStreaming::RecordingReader::Open(options.path, options.port);
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket < 0) {
        throw std::runtime_error("cannot open a UDP socket");
    }
    InterruptionGuard guard;  // Ctrl-C ends the replay with the summary of what was sent
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Varkon::QUILApi::UdpStreaming::RecordedDatagram datagram;
    std::optional<ReplayPace> pace;  // none: as fast as possible
    if (speed > 0) {
        pace.emplace(speed);
    }
    uint64_t sent = 0, bytes = 0, passes = 0;
    bool interrupted = false;
    try {
        for (;;) {
            if (!reader->Next(datagram)) {
                ++passes;
                if (!options.loop || reader->GetStatistics().datagramsReplayed == 0) {
                    break;
                }
                reader->Rewind();
                if (pace) {
                    pace->Forget();
                }
                continue;
            }
            if (pace) {
                const auto due = pace->Due(datagram.timeNanoseconds, Clock::now());
                // Sleep in short steps, so that Ctrl-C is seen during a long pause.
                while (Clock::now() < due && InterruptionGuard::Received() == 0) {
                    std::this_thread::sleep_until(
                        std::min(due, Clock::now() + std::chrono::milliseconds(100)));
                }
            }
            if (InterruptionGuard::Received() != 0) {
                interrupted = true;
                break;
            }
            if (::sendto(socket, datagram.bytes.data(), datagram.bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&destination),
                         sizeof destination) >= 0) {
                ++sent;
                bytes += datagram.bytes.size();
            }
        }
    } catch (...) {
        ::close(socket);
        throw;
    }
    ::close(socket);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto read = reader->GetStatistics();
    context.Print({{"file", options.path},
                   {"to", options.to},
                   {"datagrams", sent},
                   {"bytes", bytes},
                   {"seconds", seconds},
                   {"passes", passes},
                   {"skipped",
                    {{"notUdp", read.recordsNotUdp},
                     {"otherPort", read.datagramsOtherPort},
                     {"malformed", read.recordsMalformed},
                     {"fragmentsIncomplete", read.fragmentsIncomplete},
                     {"cutByCapture", read.datagramsCutByCapture}}}},
                  "sent " + Counted(sent, "datagram") + " (" + Counted(bytes, "byte") + ") of " +
                      options.path + " to " + options.to + " in " + FormatNumber(seconds) + " s\n");
    if (interrupted) {
        InterruptionGuard::ThrowIfInterrupted();
    }
}

}  // namespace

void AddRecordCommands(CLI::App& app, Context& context) {
    static RecordOptions record;
    auto* command = app.add_subcommand(
        "record",
        "Aim the sensor's UDP output at this host and record every datagram it sends, as it "
        "arrived, into a pcap file (tcpdump and Wireshark read it) with a JSON description "
        "beside it (FILE with the extension .json: the sensor's identity, settings and "
        "descriptions, the times and the counters); the sensor's output is put back "
        "afterwards. Exit status 3 when data was lost");
    SetExamples(*command, {"quil record line.pcap --seconds 2 --data-ids 0 3 --role maintenance"});
    AddCommonOptions(*command, context);
    AddStreamOptions(*command, context);
    command->add_option("file", record.path, "pcap file to write")->required();
    AddCaptureOptions(*command, record, context);
    command->callback([&context] { Record(context, record); });

    static ReplayOptions replay;
    auto* send = app.add_subcommand(
        "replay",
        "Send the UDP datagrams of a recording (or of a tcpdump capture of a sensor) to a UDP "
        "port, at the recorded pace, a multiple of it, or as fast as possible; nothing is "
        "asked of a sensor");
    SetExamples(*send, {"quil replay line.pcap --to 127.0.0.1:5000 --rate 2"});
    send->add_option("file", replay.path, "pcap file to read")->required();
    send->add_option("--to", replay.to, "Where to send the datagrams, HOST:PORT (IPv4)")
        ->required();
    send->add_option("--rate", replay.rate,
                     "Pace: a multiple of the recorded pace (1 as recorded; 0.001 to 1000), or max")
        ->capture_default_str();
    send->add_option("--port", replay.port,
                     "Send the capture's datagrams to this UDP port only (default: the port the "
                     "description names, else all)");
    send->add_flag("--loop", replay.loop, "Start again at the end, until Ctrl-C");
    send->add_flag("--json", context.json, "Print the result as one JSON document");
    send->callback([&context] { Replay(context, replay); });
}

}  // namespace QuilTool

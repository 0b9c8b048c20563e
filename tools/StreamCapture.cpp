#include "StreamCapture.h"

#include "Interruption.h"
#include "NamedSettings.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace QuilTool {

using Varkon::QUILApi::UdpStreaming::StreamStatistics;

namespace {

using Counter = uint64_t StreamStatistics::*;

// The counters that tell of a problem, in words. Lost blocks have a line of their own.
const std::pair<Counter, const char*> kProblems[] = {
    {&StreamStatistics::blocksDuplicated, "repeated blocks (written once)"},
    {&StreamStatistics::blocksOutOfOrder, "blocks out of order"},
    {&StreamStatistics::fragmentedBlocksTimedOut, "blocks left incomplete (fragments missing)"},
    {&StreamStatistics::decodeFailures, "blocks that could not be decoded"},
    {&StreamStatistics::blocksEmpty, "empty blocks"},
    {&StreamStatistics::blocksUnknownDataId, "blocks of an unknown data id (ignored)"},
    {&StreamStatistics::datagramsTooShort, "datagrams too short for a packet"},
    {&StreamStatistics::datagramsUnknownKind, "datagrams of an unknown packet kind"},
    {&StreamStatistics::datagramsTooLong, "datagrams too long (cut off)"},
    {&StreamStatistics::kernelDrops, "datagrams dropped by the system (receive buffer full)"},
    {&StreamStatistics::profilesDropped, "profiles dropped (queue full)"},
    {&StreamStatistics::measurementsDropped, "measurements dropped (queue full)"},
    {&StreamStatistics::errorsDropped, "problem reports dropped (queue full)"},
};

// The counters whose problems lose data.
const Counter kLosses[] = {
    &StreamStatistics::blocksLost,         &StreamStatistics::fragmentedBlocksTimedOut,
    &StreamStatistics::decodeFailures,     &StreamStatistics::datagramsTooLong,
    &StreamStatistics::kernelDrops,        &StreamStatistics::profilesDropped,
    &StreamStatistics::measurementsDropped};

constexpr auto kSilence = std::chrono::seconds(2);
constexpr auto kPoll = std::chrono::milliseconds(100);  // how soon a signal is seen

// The block id that came last, to recognise a block that arrives twice in a row.
struct LastBlock {
    bool any = false;
    uint32_t id = 0;

    bool Repeats(uint32_t blockId) {
        const bool repeated = any && blockId == id;
        any = true;
        id = blockId;
        return repeated;
    }
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

}  // namespace

void ShowCaptureProgress(const CaptureCounts& counts, const CaptureLimits& limits, bool terminal) {
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

uint32_t BlockIdStep(const std::vector<uint32_t>& ids) {
    std::vector<uint32_t> distinct = ids;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    return std::max<uint32_t>(static_cast<uint32_t>(distinct.size()), 1);
}

void CheckStreamDataIds(Varkon::QUILApi::Quil& quil, const std::vector<uint32_t>& ids) {
    CheckMemberValue(quil, "udp-stream-data", "enabledDataIDs", "--data-ids", nlohmann::json(ids));
}

bool CaptureCounts::LostData() const {
    for (Counter counter : kLosses) {
        if (statistics.*counter != 0) {
            return true;
        }
    }
    return false;
}

CaptureCounts Capture(Varkon::QUILApi::UdpStreaming::QuilStream& stream,
                      const CaptureLimits& limits, CaptureWriter& writer,
                      const std::function<void(const CaptureCounts&)>& progress,
                      const std::function<void()>& silent) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastData = start;
    auto lastProgress = start;
    bool anyData = false;
    bool toldSilence = false;
    CaptureCounts counts;
    LastBlock profiles;
    LastBlock measurements;
    const auto done = [&] {
        const uint64_t counted = limits.countProfiles ? counts.profiles : counts.measurements;
        return (limits.count != 0 && counted >= limits.count) ||
               (limits.duration.count() != 0 && Clock::now() - start >= limits.duration);
    };

    while (!done()) {
        InterruptionGuard::ThrowIfInterrupted();
        const bool any = stream.WaitForData(kPoll);
        while (stream.HasError()) {
            stream.PopError();  // the counters tell the problems; the queue must not fill
        }
        // The stream hands on a repeated block as well as reporting it; it is written once.
        while (stream.HasProfile() && !done()) {
            const auto profile = stream.PopProfile();
            if (!profiles.Repeats(profile.blockId)) {
                writer.Write(profile);
                ++counts.profiles;
            }
        }
        while (stream.HasMeasurement() && !done()) {
            const auto measurement = stream.PopMeasurement();
            if (!measurements.Repeats(measurement.blockId)) {
                writer.Write(measurement);
                ++counts.measurements;
            }
        }
        const auto now = Clock::now();
        counts.elapsed = now - start;
        counts.statistics = stream.GetStatistics();
        if (any) {
            lastData = now;
            anyData = true;
        } else if (limits.exhausted && limits.exhausted()) {
            break;
        } else if (now - lastData >= limits.idleLimit) {
            throw std::runtime_error("no stream data received for " +
                                     std::to_string(limits.idleLimit.count() / 1000) + " s");
        } else if (!anyData && !toldSilence && now - start >= kSilence && silent) {
            toldSilence = true;
            silent();
        }
        if (now - lastProgress >= std::chrono::milliseconds(200)) {
            progress(counts);
            lastProgress = now;
        }
    }
    counts.elapsed = Clock::now() - start;
    counts.statistics = stream.GetStatistics();
    writer.Finish();
    return counts;
}

CaptureLimits CaptureRequest::Limits() const {
    CaptureLimits limits;
    limits.count = count;
    limits.duration = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    const auto& ids = target.dataIds;
    limits.countProfiles =
        std::any_of(ids.begin(), ids.end(), [](uint32_t id) { return id >= 1 && id <= 3; });
    return limits;
}

CaptureCounts CaptureFromSensor(
    Context& context, Varkon::QUILApi::Quil& quil, const CaptureTarget& target,
    const CaptureLimits& limits, CaptureWriter& writer,
    const std::function<void(const CaptureCounts&)>& progress,
    const std::function<void(Varkon::QUILApi::UdpStreaming::QuilStream&)>& beforeStart) {
    // From here on a signal is only recorded: the flow below puts the sensor back first.
    InterruptionGuard guard;
    auto stream = quil.GetStream();
    if (beforeStart) {
        beforeStart(*stream);
    }
    stream->Start();
    context.ExpectAnswers();
    Varkon::QUILApi::StreamOutputAim aim(quil, target.port, target.dataIds, context.localAddress);
    const auto restore = [&] {
        context.ExpectAnswers("; its UDP output may still be aimed at " + aim.GetLocalAddress() +
                              " (see quil get process-interfaces)");
        aim.Restore();
        context.watchdog.Disarm();
    };
    const auto diagnose = [&] {
        context.ExpectAnswers();
        const auto reasons = quil.DiagnoseStream();
        context.watchdog.Disarm();
        if (reasons.empty()) {
            *context.err << "quil: no stream data after 2 s, though the sensor's output is aimed "
                            "at "
                         << aim.GetLocalAddress() << ":" << target.port << "\n";
        }
        for (const auto& reason : reasons) {
            *context.err << "quil: no stream data after 2 s: " << reason << "\n";
        }
    };
    CaptureCounts counts;
    try {
        context.watchdog.Disarm();  // the capture has its own limit for silence
        counts = Capture(*stream, limits, writer, progress, diagnose);
    } catch (...) {
        restore();  // a failed restore is the error that leaves
        stream->Close();
        throw;
    }
    restore();
    stream->Close();
    return counts;
}

RecordingSource::RecordingSource(const std::string& path) {
    Varkon::QUILApi::UdpStreaming::ReplayOptions options;
    options.speed = Varkon::QUILApi::UdpStreaming::ReplayOptions::kAsFastAsPossible;
    replay = Varkon::QUILApi::UdpStreaming::RecordingReplay::Open(path, options);
}

ProfileScale RecordingSource::Scale() const {
    return ProfileScale::FromDescription(replay->GetDescription());
}

uint32_t RecordingSource::BlockIdStep() const {
    const auto description = nlohmann::json::parse(replay->GetDescription(), nullptr, false);
    try {
        const auto& sensor = description.at("sensor");
        const auto& ids = sensor.contains("recordedDataIds")
                              ? sensor.at("recordedDataIds")
                              : sensor.at("UDPStreamData").at("enabledDataIDs");
        return QuilTool::BlockIdStep(ids.get<std::vector<uint32_t>>());
    } catch (const nlohmann::json::exception&) {
        return 1;
    }
}

CaptureCounts RecordingSource::Capture(CaptureLimits limits, CaptureWriter& writer,
                                       const std::function<void(const CaptureCounts&)>& progress) {
    InterruptionGuard guard;  // a closed output ends the capture in words, not by SIGPIPE
    auto stream = replay->GetStream();
    limits.exhausted = [this] { return replay->WaitUntilFinished(std::chrono::milliseconds(0)); };
    stream->Start();
    const CaptureCounts counts = QuilTool::Capture(*stream, limits, writer, progress);
    stream->Close();
    const auto read = replay->GetStatistics();
    if (!read.error.empty()) {
        throw std::runtime_error(read.error);
    }
    return counts;
}

std::string CaptureSummary(const CaptureCounts& counts) {
    const auto& statistics = counts.statistics;
    std::ostringstream out;
    out << "received " << counts.profiles << " profiles and " << counts.measurements
        << " measurements in " << counts.elapsed.count() << " s\n"
        << "lost " << counts.Lost() << " blocks\n";
    std::string problems;
    for (const auto& [counter, words] : kProblems) {
        if (statistics.*counter != 0) {
            problems +=
                (problems.empty() ? "" : ", ") + std::to_string(statistics.*counter) + " " + words;
        }
    }
    out << "stream problems: " << (problems.empty() ? "none" : problems) << "\n";
    if (statistics.ReceiveBufferCapped()) {
        out << "receive buffer: the system granted " << statistics.receiveBufferGranted << " of "
            << statistics.receiveBufferRequested
            << " bytes; a fast stream may overflow it. Raise the limit with `sysctl -w "
               "net.core.rmem_max="
            << statistics.receiveBufferRequested << "` (as root)\n";
    }
    return out.str();
}

nlohmann::json CaptureSummaryJson(const CaptureCounts& counts) {
    nlohmann::json statistics = nlohmann::json::object();
    for (const auto& [name, counter] : StreamStatistics::kCounters) {
        statistics[name] = counts.statistics.*counter;
    }
    statistics["receiveBufferRequested"] = counts.statistics.receiveBufferRequested;
    statistics["receiveBufferGranted"] = counts.statistics.receiveBufferGranted;
    return {{"profiles", counts.profiles},       {"measurements", counts.measurements},
            {"seconds", counts.elapsed.count()}, {"lost", counts.Lost()},
            {"lostData", counts.LostData()},     {"statistics", statistics}};
}

}  // namespace QuilTool

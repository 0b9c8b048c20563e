#include "StreamCapture.h"

#include "Counted.h"
#include "Interruption.h"
#include "NamedSettings.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace QuilTool {

using Varkon::QUILApi::UdpStreaming::StreamStatistics;

namespace {

using Counter = uint64_t StreamStatistics::*;

// The counters that tell of a problem that loses no data, in words (a noun and what follows
// it); lost blocks are listed by cause (kCauses).
const std::tuple<Counter, const char*, const char*> kProblems[] = {
    {&StreamStatistics::blocksDuplicated, "repeated block", " (written once)"},
    {&StreamStatistics::blocksOutOfOrder, "block", " out of order"},
    {&StreamStatistics::blocksEmpty, "empty block", ""},
    {&StreamStatistics::blocksUnknownDataId, "block", " of an unknown data id (ignored)"},
    {&StreamStatistics::datagramsTooShort, "datagram", " too short for a packet"},
    {&StreamStatistics::datagramsUnknownKind, "datagram", " of an unknown packet kind"},
    {&StreamStatistics::errorsDropped, "problem report", " dropped (queue full)"},
};

// The causes of loss: their words, and their names in JSON.
const std::tuple<uint64_t CaptureLoss::*, const char*, const char*> kCauses[] = {
    {&CaptureLoss::sensorGap, "sensorGap", "missing in the sensor's numbering (not received)"},
    {&CaptureLoss::systemDrop, "systemDrop", "dropped by the system (receive buffer full)"},
    {&CaptureLoss::cutDatagram, "cutDatagram", "in datagrams too long (cut off)"},
    {&CaptureLoss::incomplete, "incomplete", "left incomplete (fragments missing)"},
    {&CaptureLoss::undecodable, "undecodable", "that could not be decoded"},
    {&CaptureLoss::queueOverflow, "queueOverflow", "dropped by a full queue (writing fell behind)"},
};

constexpr auto kSilence = std::chrono::seconds(2);
constexpr auto kPoll = std::chrono::milliseconds(100);  // how soon a signal is seen
// After the source was stopped: the stream is drained once it stayed empty this long.
constexpr auto kDrained = std::chrono::milliseconds(300);
// How long after the window's end by the sensor's clock the source is stopped when no block
// from beyond the window has told that the window is over (a sensor that stopped sending).
constexpr auto kLateness = std::chrono::seconds(1);

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

// Whether an entry lies in the capture's window, by its time stamp and by the count.
class CaptureWindow {
public:
    explicit CaptureWindow(const CaptureLimits& limits) : limits(limits) {}

    // `timestamp`: the entry's, in microseconds of the sensor's clock; `counted`: it is of the
    // kind that --count counts. When the count is reached, the other kind's entries up to the
    // last counted one's time still lie in the window.
    bool Holds(uint64_t timestamp, bool counted) {
        if (!started) {
            started = true;
            end = timestamp + static_cast<uint64_t>(limits.duration.count()) * 1000;
        }
        const bool beyond = (limits.duration.count() != 0 && timestamp >= end) ||
                            (Complete() && (counted || timestamp > lastCounted));
        passed = passed || beyond;
        return !beyond;
    }
    // Counts an entry written.
    void Counted(uint64_t timestamp) {
        ++taken;
        lastCounted = timestamp;
    }
    // Whether the count is reached: the window is over.
    bool Complete() const { return limits.count != 0 && taken >= limits.count; }
    // Whether an entry beyond the window came, or the count is reached.
    bool Passed() const { return passed || Complete(); }

private:
    const CaptureLimits& limits;
    bool started = false;
    bool passed = false;
    uint64_t end = 0;
    uint64_t lastCounted = 0;
    std::size_t taken = 0;
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

void CheckStreamDataIds(Varkon::QUILApi::Quil& quil, const std::vector<uint32_t>& ids) {
    CheckMemberValue(quil, "udp-stream-data", "enabledDataIDs", "--data-ids", nlohmann::json(ids));
}

CaptureLoss CaptureLoss::Of(const StreamStatistics& statistics) {
    CaptureLoss loss;
    // The gaps in the block ids hold every block that never got through: those the system
    // dropped, those cut off or left incomplete, and those that never arrived. A block that
    // came late was counted in a gap, but was received after all.
    uint64_t gaps =
        statistics.blocksLost - std::min(statistics.blocksLost, statistics.blocksOutOfOrder);
    const auto take = [&gaps](uint64_t count) {
        const uint64_t taken = std::min(gaps, count);
        gaps -= taken;
        return taken;
    };
    loss.cutDatagram = take(statistics.datagramsTooLong);
    loss.incomplete = take(statistics.fragmentedBlocksTimedOut);
    loss.systemDrop = take(statistics.kernelDrops);
    loss.sensorGap = gaps;
    // These were received, and lost on the way to the queues.
    loss.undecodable = statistics.decodeFailures;
    loss.queueOverflow = statistics.profilesDropped + statistics.measurementsDropped;
    return loss;
}

CaptureCounts Capture(Varkon::QUILApi::UdpStreaming::QuilStream& stream,
                      const CaptureLimits& limits, CaptureWriter& writer,
                      const std::function<void(const CaptureCounts&)>& progress,
                      const std::function<void()>& silent) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastData = start;
    auto lastProgress = start;
    Clock::time_point firstArrival{};
    bool anyData = false;
    bool toldSilence = false;
    CaptureCounts counts;
    LastBlock profiles;
    LastBlock measurements;
    CaptureWindow window(limits);
    // Once the source is stopped, what it sent before is taken: to the first entry beyond the
    // window, or until nothing more comes.
    bool stopping = false;
    const auto stopSource = [&] {
        if (!stopping) {
            stopping = true;
            if (limits.closeSource) {
                limits.closeSource();
            }
        }
    };
    // Writes an entry that lies in the window; counts the others.
    const auto take = [&](const auto& entry, LastBlock& last, uint64_t& written, bool counted) {
        if (last.Repeats(entry.blockId)) {
            ++counts.repeated;
            return;
        }
        if (!window.Holds(entry.timestamp, counted)) {
            ++counts.afterWindow;
            stopSource();
            return;
        }
        writer.Write(entry);
        ++written;
        if (counted) {
            window.Counted(entry.timestamp);
            if (window.Complete()) {
                stopSource();
            }
        }
    };

    for (;;) {
        if (!limits.untilInterrupted) {
            InterruptionGuard::ThrowIfInterrupted();
        } else if (InterruptionGuard::Received() != 0) {
            stopSource();  // the end the user chose; what was sent before is still written
        }
        const bool any = stream.WaitForData(stopping ? kDrained : kPoll);
        while (stream.HasError()) {
            stream.PopError();  // the counters tell the problems; the queue must not fill
        }
        // The stream hands on a repeated block as well as reporting it; it is written once.
        while (stream.HasProfile() && !(window.Passed() && !limits.closeSource)) {
            take(stream.PopProfile(), profiles, counts.profiles, limits.countProfiles);
        }
        while (stream.HasMeasurement() && !(window.Passed() && !limits.closeSource)) {
            take(stream.PopMeasurement(), measurements, counts.measurements, !limits.countProfiles);
        }
        const auto now = Clock::now();
        counts.elapsed = now - start;
        counts.statistics = stream.GetStatistics();
        const bool empty = !stream.HasProfile() && !stream.HasMeasurement();
        if (window.Passed() && (empty || !limits.closeSource)) {
            break;  // everything before the window's end was taken
        }
        if (any) {
            if (!anyData) {
                firstArrival = now;
            }
            lastData = now;
            anyData = true;
        } else if (stopping) {
            break;  // the source was stopped and nothing more came
        } else if (limits.exhausted && limits.exhausted()) {
            break;
        } else if (now - lastData >= limits.idleLimit) {
            throw std::runtime_error("no stream data received for " +
                                     std::to_string(limits.idleLimit.count() / 1000) + " s");
        } else if (!anyData && !toldSilence && now - start >= kSilence && silent) {
            toldSilence = true;
            silent();
        }
        if (limits.closeSource && anyData && limits.duration.count() != 0 &&
            now - firstArrival >= limits.duration + kLateness) {
            stopSource();  // the window is over by now, though nothing beyond it came
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
    bool restored = false;
    const auto restore = [&] {
        if (restored) {
            return;
        }
        restored = true;
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
        CaptureLimits window = limits;
        window.closeSource = restore;  // then the backlog is taken to the end
        counts = Capture(*stream, window, writer, progress, diagnose);
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

Varkon::QUILApi::ProfileCoordinates RecordingSource::Coordinates() const {
    namespace Api = Varkon::QUILApi;
    try {
        return Api::ProfileCoordinates::FromRecordingDescription(replay->GetDescription());
    } catch (const std::invalid_argument&) {
        // A capture made with tcpdump has no description: the virtual sensor's descriptions
        // (see the README) stand in.
        Api::ProfileDescription description;
        description.profileMeta = {0, "mm", "mm"};
        description.fovMeta = {"mm", "mm", 2, 2};
        description.fovDistance = {-60.0, 60.0, 250.0, 380.0};
        description.zAxisDefinitionID = 1;
        return Api::ProfileCoordinates(description);
    }
}

std::vector<uint32_t> RecordingSource::DataIds() const {
    const auto description = nlohmann::json::parse(replay->GetDescription(), nullptr, false);
    try {
        const auto& sensor = description.at("sensor");
        const auto& ids = sensor.contains("recordedDataIds")
                              ? sensor.at("recordedDataIds")
                              : sensor.at("UDPStreamData").at("enabledDataIDs");
        return ids.get<std::vector<uint32_t>>();
    } catch (const nlohmann::json::exception&) {
        return {1};
    }
}

uint32_t RecordingSource::BlockIdStep() const {
    return QuilTool::BlockIdStep(DataIds());
}

CaptureCounts RecordingSource::Capture(CaptureLimits limits, CaptureWriter& writer,
                                       const std::function<void(const CaptureCounts&)>& progress) {
    InterruptionGuard guard;  // a closed output ends the capture as a failed write, not by SIGPIPE
    auto stream = replay->GetStream();
    limits.exhausted = [this] { return replay->WaitUntilFinished(std::chrono::milliseconds(0)); };
    stream->Start();
    CaptureCounts counts = QuilTool::Capture(*stream, limits, writer, progress);
    stream->Close();
    const auto read = replay->GetStatistics();
    counts.damage = read.error;
    counts.damagedAfterRecord = read.error.empty() ? 0 : read.recordsRead;
    counts.datagramsCutByCapture = read.datagramsCutByCapture;
    return counts;
}

std::string CaptureCounts::LostInWords() const {
    std::string words = Counted(Lost(), "block");
    if (datagramsCutByCapture != 0) {
        words += " and " + Counted(datagramsCutByCapture, "datagram", " cut by the capture");
    }
    return words;
}

std::string CaptureSummary(const CaptureCounts& counts) {
    const auto& statistics = counts.statistics;
    const CaptureLoss loss = counts.Loss();
    std::ostringstream out;
    out << "wrote " << Counted(counts.profiles, "profile") << " and "
        << Counted(counts.measurements, "measurement") << " in " << counts.elapsed.count() << " s";
    if (counts.afterWindow != 0) {
        out << "; "
            << Counted(counts.afterWindow, "block", " came after the capture's end (not written)");
    }
    out << "\nlost " << Counted(loss.Total(), "block");
    std::string causes;
    for (const auto& [cause, name, words] : kCauses) {
        (void)name;
        if (loss.*cause != 0) {
            causes += (causes.empty() ? ": " : ", ") + std::to_string(loss.*cause) + " " + words;
        }
    }
    out << causes;
    if (counts.datagramsCutByCapture != 0) {
        out << "; and " << Counted(counts.datagramsCutByCapture, "datagram")
            << " cut by the capture (below)";
    }
    out << "\n";
    std::string problems;
    for (const auto& [counter, noun, rest] : kProblems) {
        if (statistics.*counter != 0) {
            problems += (problems.empty() ? "" : ", ") + Counted(statistics.*counter, noun, rest);
        }
    }
    out << "other stream problems: " << (problems.empty() ? "none" : problems) << "\n";
    if (counts.datagramsCutByCapture != 0) {
        out << "cut by the capture: "
            << Counted(counts.datagramsCutByCapture, "datagram", " held only in part (not read)")
            << "; capture with a larger snap length\n";
    }
    if (!counts.damage.empty()) {
        out << "damaged recording: read up to record " << counts.damagedAfterRecord
            << "; what came before it was written\n";
    }
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
    Varkon::QUILApi::VisitFields<StreamStatistics>(
        [&](const auto& field) { statistics[field.key] = counts.statistics.*field.member; });
    const CaptureLoss loss = counts.Loss();
    nlohmann::json causes = nlohmann::json::object();
    for (const auto& [cause, name, words] : kCauses) {
        (void)words;
        causes[name] = loss.*cause;
    }
    return {{"profiles", counts.profiles},
            {"measurements", counts.measurements},
            {"repeated", counts.repeated},
            {"afterWindow", counts.afterWindow},
            {"seconds", counts.elapsed.count()},
            {"lost", loss.Total()},
            {"lostByCause", causes},
            {"lostData", counts.LostData()},
            {"statistics", statistics},
            {"datagramsCutByCapture", counts.datagramsCutByCapture},
            {"damage", counts.damage.empty()
                           ? nlohmann::json()
                           : nlohmann::json{{"afterRecord", counts.damagedAfterRecord},
                                            {"error", counts.damage}}}};
}

void ThrowIfDamaged(const CaptureCounts& counts) {
    if (!counts.damage.empty()) {
        throw std::runtime_error(counts.damage + "; read up to record " +
                                 std::to_string(counts.damagedAfterRecord));
    }
}

}  // namespace QuilTool

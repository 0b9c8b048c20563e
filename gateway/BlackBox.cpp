#include "BlackBox.h"

#include "Log.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace Varkon::QuilGateway {
namespace {

namespace fs = std::filesystem;
using Varkon::QUILApi::UdpStreaming::StreamStatistics;

// The window is cut into about this many pieces: the finer, the closer the window stays to its
// bounds, the more files.
constexpr uint64_t kPieces = 8;
// A capture's file header, and each datagram's record header with its IPv4 and UDP headers.
constexpr uint64_t kCaptureHeaderBytes = 24;
constexpr uint64_t kRecordOverheadBytes = 16 + 20 + 8;
// A description file's own fields, which the recording writes again with its counters at its
// end.
constexpr uint64_t kDescriptionReserveBytes = 16384;
// Hands the writer less than the library's default, so that what waits for the disk at a
// piece's end stays small.
constexpr std::size_t kHandOffDatagrams = 1024;

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

// Why `name` cannot name a kept recording, or nothing.
std::optional<std::string> NameProblem(const std::string& name) {
    if (name.size() > kKeepNameMost) {
        return Quoted(name) + " is longer than " + std::to_string(kKeepNameMost) + " characters";
    }
    const bool valid =
        !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        });
    if (!valid) {
        return Quoted(name) + " is not a name of letters, digits, '-', '_' and '.'";
    }
    return std::nullopt;
}

std::string Seconds(std::chrono::steady_clock::duration duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
    return text;
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Hard links cost neither time nor disk; a folder on another file system gets copies.
void LinkOrCopy(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_hard_link(from, to, error);
    if (error) {
        fs::copy_file(from, to);
    }
}

}  // namespace

BlackBox::BlackBox(BlackBoxSettings settings, std::string sensor)
    : settings(std::move(settings)),
      sensor(std::move(sensor)),
      window((fs::path(this->settings.folder) / "window").string()),
      pieceLength(std::max<std::chrono::milliseconds::rep>(
          100, this->settings.seconds * 1000 / static_cast<int64_t>(kPieces))),
      pieceBytes(this->settings.bytes / kPieces),
      kept(this->settings.folder, this->sensor, this->settings.keptRecordings,
           this->settings.keptBytes) {
    std::error_code error;
    fs::create_directories(window, error);
    if (error) {
        Problem("cannot create " + window + ": " + error.message());
        return;
    }
    std::vector<uint64_t> found;
    for (const auto& entry : fs::directory_iterator(window, error)) {
        const fs::path& path = entry.path();
        const std::string stem = path.stem().string();
        if (path.extension() == ".pcap" && !stem.empty() &&
            std::all_of(stem.begin(), stem.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
            found.push_back(std::stoull(stem));
        }
    }
    std::sort(found.begin(), found.end());
    const auto now = std::chrono::steady_clock::now();
    for (const uint64_t number : found) {
        closed.push_back(
            {number, SizeOf(CapturePath(number)) + SizeOf(DescriptionPath(number)), now});
        nextNumber = number + 1;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    DeleteOldest();
    kept.Bound();
}

BlackBox::~BlackBox() {
    Detach();
}

std::string BlackBox::CapturePath(uint64_t number) const {
    char name[32];
    std::snprintf(name, sizeof name, "%08" PRIu64 ".pcap", number);
    return (fs::path(window) / name).string();
}

std::string BlackBox::DescriptionPath(uint64_t number) const {
    return fs::path(CapturePath(number)).replace_extension(".json").string();
}

void BlackBox::Problem(const std::string& what) {
    if (what != lastProblem) {
        LogLine("sensor " + sensor + ": black box: " + what);
        lastProblem = what;
    }
}

void BlackBox::Attach(std::shared_ptr<Varkon::QUILApi::UdpStreaming::QuilStream> stream,
                      std::string description) {
    const std::lock_guard<std::mutex> lock(mutex);
    this->stream = std::move(stream);
    this->description = std::move(description);
    StartPiece();
}

void BlackBox::Detach() {
    const std::lock_guard<std::mutex> lock(mutex);
    EndPiece();
    stream.reset();
}

void BlackBox::StartPiece() {
    if (!stream || recording) {
        return;
    }
    // The bounds hold before the new piece takes its first byte.
    DeleteOldest();
    Varkon::QUILApi::UdpStreaming::RecordingOptions options;
    options.sensorDescription = description;
    options.bufferDatagrams = kHandOffDatagrams;
    const uint64_t number = nextNumber++;
    try {
        countersAtStart = stream->GetStatistics();
        stream->StartRecording(CapturePath(number), options);
    } catch (const std::exception& error) {
        Problem(error.what());
        currentStart = std::chrono::steady_clock::now();  // tried again a piece later
        return;
    }
    recording = true;
    current = number;
    currentStart = std::chrono::steady_clock::now();
}

// Moves the recording into a new piece: every datagram goes into the one or the other, so the
// window has no gap where one piece ends and the next begins.
void BlackBox::NextPiece() {
    if (!recording) {
        StartPiece();
        return;
    }
    const uint64_t number = nextNumber++;
    // Counted from before the move: the new piece's size rather too large than too small.
    const StreamStatistics counters = stream->GetStatistics();
    Varkon::QUILApi::UdpStreaming::RecordingStatus ended;
    try {
        ended = stream->ContinueRecordingIn(CapturePath(number));
    } catch (const std::exception& error) {
        Problem(error.what());
        EndPiece();  // the window stops growing; a new piece is tried a piece later
        currentStart = std::chrono::steady_clock::now();
        return;
    }
    PieceEnded(ended);
    current = number;
    countersAtStart = counters;
    currentStart = std::chrono::steady_clock::now();
    DeleteOldest();
}

void BlackBox::EndPiece() {
    if (!recording) {
        return;
    }
    const auto status = stream->StopRecording();
    recording = false;
    PieceEnded(status);
}

void BlackBox::PieceEnded(const Varkon::QUILApi::UdpStreaming::RecordingStatus& status) {
    if (!status.error.empty()) {
        Problem(status.error);
    } else {
        lastProblem.clear();
    }
    closed.push_back({current, SizeOf(CapturePath(current)) + SizeOf(DescriptionPath(current)),
                      std::chrono::steady_clock::now()});
}

uint64_t BlackBox::ClosedBytes() const {
    uint64_t bytes = 0;
    for (const Piece& piece : closed) {
        bytes += piece.bytes;
    }
    return bytes;
}

// What the piece in hand's capture will take once what waits for the writer is written: by the
// stream's own counters, so that datagrams still in the hand-off count too.
uint64_t BlackBox::CurrentCaptureBytes() {
    if (!recording) {
        return 0;
    }
    const StreamStatistics now = stream->GetStatistics();
    const uint64_t datagrams = now.datagramsReceived - countersAtStart.datagramsReceived;
    const uint64_t counted = kCaptureHeaderBytes + datagrams * kRecordOverheadBytes +
                             (now.bytesReceived - countersAtStart.bytesReceived);
    return std::max(counted, SizeOf(CapturePath(current)));
}

// The most a piece's description file takes: the sensor's description, perhaps laid out more
// widely than given, and the recording's own fields.
uint64_t BlackBox::DescriptionAllowance() const {
    return 2 * description.size() + kDescriptionReserveBytes;
}

// Deletes the oldest pieces until those left are within the window's seconds and leave room
// for a piece in hand: its capture ends at an eighth of the bytes, and may grow as far again
// before the next Tend sees it.
void BlackBox::DeleteOldest() {
    const auto oldest = std::chrono::steady_clock::now() - std::chrono::seconds(settings.seconds);
    const uint64_t room = 2 * pieceBytes + DescriptionAllowance();
    uint64_t bytes = ClosedBytes();
    while (!closed.empty() && (bytes + room > settings.bytes || closed.front().end < oldest)) {
        std::error_code ignored;
        fs::remove(CapturePath(closed.front().number), ignored);
        fs::remove(DescriptionPath(closed.front().number), ignored);
        bytes -= closed.front().bytes;
        closed.pop_front();
    }
}

void BlackBox::Tend() {
    const std::lock_guard<std::mutex> lock(mutex);
    if (!stream) {
        return;
    }
    const bool full = CurrentCaptureBytes() >= pieceBytes;
    const bool old = std::chrono::steady_clock::now() - currentStart >= pieceLength;
    if (recording && !stream->GetRecordingStatus().recording) {
        EndPiece();  // failed by itself (a full disk): a new piece is tried after a while
        currentStart = std::chrono::steady_clock::now();
    } else if (full || old) {
        NextPiece();
    } else {
        DeleteOldest();
    }
}

uint64_t BlackBox::DiskBytes() {
    const std::lock_guard<std::mutex> lock(mutex);
    return ClosedBytes() +
           (recording ? SizeOf(CapturePath(current)) + SizeOf(DescriptionPath(current)) : 0);
}

KeepAnswer BlackBox::Keep(const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex);
    KeepAnswer answer = KeepWindow(name);
    // A wrong name is told only quoted; a right one is short and safe as it is.
    const std::string text = answer.outcome == KeepAnswer::Outcome::Kept ? answer.text
                             : answer.outcome == KeepAnswer::Outcome::WrongName
                                 ? "not kept: " + answer.text
                                 : "not kept as " + name + ": " + answer.text;
    LogLine("sensor " + sensor + ": black box " + text);
    report = {report.answers + 1, text};
    if (answer.outcome == KeepAnswer::Outcome::Kept) {
        kept.Bound(name);
    }
    return answer;
}

KeepReport BlackBox::LastKept() {
    const std::lock_guard<std::mutex> lock(mutex);
    return report;
}

KeepAnswer BlackBox::KeepWindow(const std::string& name) {
    using Outcome = KeepAnswer::Outcome;
    if (auto problem = NameProblem(name)) {
        return {Outcome::WrongName, std::move(*problem)};
    }
    const fs::path path = kept.PathOf(name);
    std::error_code error;
    if (fs::exists(path, error)) {
        return {Outcome::NameTaken, "a recording named " + name + " is kept already"};
    }
    // Each keep ends the piece in hand and links every piece: taken at most once an interval.
    const auto now = std::chrono::steady_clock::now();
    const std::chrono::seconds interval(settings.keepIntervalSeconds);
    if (lastKeep && now - *lastKeep < interval) {
        return {Outcome::TooSoon, "the last keep was " + Seconds(now - *lastKeep) +
                                      " ago, and keeps are taken at most once in " +
                                      std::to_string(settings.keepIntervalSeconds) + " s"};
    }
    lastKeep = now;
    // The piece in hand is ended so that the recording holds it whole.
    if (recording) {
        NextPiece();
    }
    if (closed.empty()) {
        return {Outcome::NothingRecorded, "nothing is recorded yet"};
    }
    try {
        fs::create_directories(path);
        for (const Piece& piece : closed) {
            LinkOrCopy(CapturePath(piece.number),
                       path / fs::path(CapturePath(piece.number)).filename());
            LinkOrCopy(DescriptionPath(piece.number),
                       path / fs::path(DescriptionPath(piece.number)).filename());
        }
    } catch (const std::exception& failure) {
        return {Outcome::Failed, "cannot keep it in " + path.string() + ": " + failure.what()};
    }
    return {Outcome::Kept, "kept the last " + std::to_string(closed.size()) + " pieces (" +
                               Megabytes(ClosedBytes()) + ") in " + path.string()};
}

}  // namespace Varkon::QuilGateway

#include "BlackBox.h"

#include "Log.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
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
void LinkOrCopy(const fs::path& from, const fs::path& to, std::error_code& error) {
    fs::create_hard_link(from, to, error);
    if (error) {
        error.clear();
        fs::copy_file(from, to, error);
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
        Problem(CannotWrite(error.message()));
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
            {number, SizeOf(CapturePath(number)) + SizeOf(DescriptionPath(number)), now, now});
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

// "cannot write to <window>: <reason>", the reason taken from a text about one of its files
// ("Could not record to <window>/00000007.pcap: <reason>"), so that a failure reads the same
// whichever piece it meets.
std::string BlackBox::CannotWrite(const std::string& text) const {
    std::string reason = text;
    const auto file = text.find(window + "/");
    const auto colon = file == std::string::npos ? file : text.find(": ", file);
    if (colon != std::string::npos) {
        reason = text.substr(colon + 2);
    }
    return "cannot write to " + window + ": " + reason;
}

// Told once, until it changes or the black box writes again.
void BlackBox::Problem(const std::string& what) {
    if (what != writeProblem) {
        LogLine("sensor " + sensor + ": black box: " + what);
        writeProblem = what;
    }
}

void BlackBox::WritesAgain() {
    if (!writeProblem.empty()) {
        LogLine("sensor " + sensor + ": black box: writes to " + window + " again");
        writeProblem.clear();
    }
}

// Makes the window again when it was deleted while the black box ran, without the pieces it
// held; the problem when it cannot be made.
std::string BlackBox::MakeWindow() {
    std::error_code error;
    if (fs::is_directory(window, error)) {
        return {};
    }
    fs::create_directories(window, error);
    if (error) {
        return CannotWrite(error.message());
    }
    LogLine("sensor " + sensor + ": black box: made " + window + " again, as it was gone");
    ForgetVanished();
    return {};
}

// Forgets the pieces whose captures were deleted by someone else.
void BlackBox::ForgetVanished() {
    closed.erase(std::remove_if(closed.begin(), closed.end(),
                                [&](const Piece& piece) {
                                    std::error_code error;
                                    return fs::status(CapturePath(piece.number), error).type() ==
                                           fs::file_type::not_found;
                                }),
                 closed.end());
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
    const uint64_t number = nextNumber;
    std::string failure = MakeWindow();
    if (failure.empty()) {
        try {
            countersAtStart = stream->GetStatistics();
            stream->StartRecording(CapturePath(number), options);
        } catch (const std::exception& error) {
            failure = CannotWrite(error.what());
        }
    }
    if (!failure.empty()) {
        Problem(failure);
        currentStart = std::chrono::steady_clock::now();  // tried again a piece later
        return;
    }
    ++nextNumber;
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
    const uint64_t number = nextNumber;
    // Counted from before the move: the new piece's size rather too large than too small.
    const StreamStatistics counters = stream->GetStatistics();
    Varkon::QUILApi::UdpStreaming::RecordingStatus ended;
    std::string failure = MakeWindow();
    if (failure.empty()) {
        try {
            ended = stream->ContinueRecordingIn(CapturePath(number));
        } catch (const std::exception& error) {
            failure = CannotWrite(error.what());
        }
    }
    if (!failure.empty()) {
        EndPiece();  // the window stops growing; a new piece is tried a piece later
        Problem(failure);
        currentStart = std::chrono::steady_clock::now();
        return;
    }
    ++nextNumber;
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
    closed.push_back({current, SizeOf(CapturePath(current)) + SizeOf(DescriptionPath(current)),
                      currentStart, std::chrono::steady_clock::now()});
    ForgetVanished();  // the piece too, when its folder was deleted while it was written
    if (!status.error.empty()) {
        Problem(CannotWrite(status.error));
    } else {
        WritesAgain();
    }
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
// before the next Tend sees it. A piece that cannot be deleted stays, counted: it is on disk.
// Tells when the bytes begin to delete pieces younger than the seconds, and when they stop.
void BlackBox::DeleteOldest() {
    const auto oldest = std::chrono::steady_clock::now() - std::chrono::seconds(settings.seconds);
    const uint64_t room = 2 * pieceBytes + DescriptionAllowance();
    uint64_t bytes = ClosedBytes();
    std::optional<bool> byBytes;  // of the last piece deleted
    while (!closed.empty() && (bytes + room > settings.bytes || closed.front().end < oldest)) {
        std::error_code error;
        fs::remove(CapturePath(closed.front().number), error);
        if (!error) {
            fs::remove(DescriptionPath(closed.front().number), error);
        }
        if (error) {
            Problem(CannotWrite(error.message()));
            break;
        }
        byBytes = closed.front().end >= oldest;
        bytes -= closed.front().bytes;
        closed.pop_front();
    }
    if (!byBytes || *byBytes == bytesBound) {
        return;
    }
    bytesBound = *byBytes;
    char line[160];
    if (bytesBound) {
        std::snprintf(line, sizeof line, "the window holds %.1f s, not the %u s configured, as ",
                      SpanSeconds(), static_cast<unsigned>(settings.seconds));
        LogLine("sensor " + sensor + ": black box: " + line + "its files may take at most " +
                Megabytes(settings.bytes));
    } else {
        LogLine("sensor " + sensor + ": black box: the window holds the " +
                std::to_string(settings.seconds) + " s configured again");
    }
}

// From the start of the oldest piece to now, or to the end of the last while none is in hand.
double BlackBox::SpanSeconds() const {
    const auto now = std::chrono::steady_clock::now();
    const auto end = recording || closed.empty() ? now : closed.back().end;
    const auto start = !closed.empty() ? closed.front().start : recording ? currentStart : end;
    return std::chrono::duration<double>(end - start).count();
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

double BlackBox::WindowSeconds() {
    const std::lock_guard<std::mutex> lock(mutex);
    return std::round(SpanSeconds() * 10) / 10;
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
        if (!writeProblem.empty()) {
            return {Outcome::Failed, "the black box " + writeProblem};
        }
        return {Outcome::NothingRecorded, "nothing is recorded yet"};
    }
    fs::create_directories(path, error);
    for (auto piece = closed.begin(); !error && piece != closed.end(); ++piece) {
        for (const std::string& file :
             {CapturePath(piece->number), DescriptionPath(piece->number)}) {
            if (!error) {
                LinkOrCopy(file, path / fs::path(file).filename(), error);
            }
        }
    }
    if (error) {
        std::error_code ignored;
        fs::remove_all(path, ignored);  // no recording in part
        return {Outcome::Failed,
                "the black box cannot write to " + path.string() + ": " + error.message()};
    }
    return {Outcome::Kept, "kept the last " + std::to_string(closed.size()) + " pieces (" +
                               Megabytes(ClosedBytes()) + ") in " + path.string()};
}

}  // namespace Varkon::QuilGateway

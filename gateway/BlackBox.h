// A sensor's black box: the raw datagrams of its latest seconds on disk, recorded by its stream
// (the library's recordings) into short pieces in <folder>/window, the oldest deleted so that
// the window keeps its seconds and never takes more than its bytes. A window deleted while it
// runs is made again; one it cannot write is told once, and the pieces it holds stay counted.
// Keep makes the window, as it is, a named recording: the pieces, linked (or copied) into
// <folder>/kept/<name>, each a capture with its description that `quil stream --from` reads. At
// most one keep is taken in the configured interval, and the kept recordings are bounded
// (KeptRecordings.h).
#pragma once

#include "Configuration.h"
#include "KeptRecordings.h"

#include <quil/Quil.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Varkon::QuilGateway {

/// How a request to keep the window ended, and the line that tells it.
struct KeepAnswer {
    enum class Outcome {
        Kept,
        WrongName,
        NoBlackBox,
        NameTaken,
        TooSoon,  // another keep was taken less than the interval ago
        NothingRecorded,
        Failed
    };
    Outcome outcome;
    std::string text;
};

/// The answers to keeps so far: how many, and the last one as the device reports it.
struct KeepReport {
    uint64_t answers = 0;
    std::string text;
};

/// The longest name of a kept recording.
inline constexpr std::size_t kKeepNameMost = 100;

class BlackBox {
public:
    /// Takes over the pieces a previous run left in the window.
    BlackBox(BlackBoxSettings settings, std::string sensor);
    /// Ends the piece in hand (Detach).
    ~BlackBox();
    BlackBox(const BlackBox&) = delete;
    BlackBox& operator=(const BlackBox&) = delete;

    /// Starts recording `stream` into a new piece; `description` is the sensor's, as
    /// DescribeSensorForRecording gives it (empty: none).
    void Attach(std::shared_ptr<Varkon::QUILApi::UdpStreaming::QuilStream> stream,
                std::string description);
    /// Ends the piece in hand; the window keeps it.
    void Detach();
    /// Starts the next piece and deletes the oldest as the window's bounds need. Called often
    /// by the sensor's thread: the piece in hand never grows past a quarter of the bytes.
    void Tend();
    /// Keeps the window as the recording `name` (letters, digits, '-', '_' and '.'), unless
    /// another keep was taken less than the interval ago; then removes the oldest kept
    /// recordings over the bounds. The answer is logged and becomes the LastKept. Any thread;
    /// the sensor's thread waits for the window meanwhile.
    KeepAnswer Keep(const std::string& name);
    KeepReport LastKept();
    /// What the window's pieces take on disk now, the piece in hand as far as it is written.
    uint64_t DiskBytes();
    /// The seconds the window's pieces span now, to a tenth; fewer than configured while the
    /// bytes are the tighter bound, or since the start.
    double WindowSeconds();

private:
    struct Piece {
        uint64_t number;
        uint64_t bytes;  // capture and description, as closed
        std::chrono::steady_clock::time_point start;
        std::chrono::steady_clock::time_point end;
    };

    std::string CapturePath(uint64_t number) const;
    std::string DescriptionPath(uint64_t number) const;
    uint64_t ClosedBytes() const;
    uint64_t CurrentCaptureBytes();
    uint64_t DescriptionAllowance() const;
    void StartPiece();
    void NextPiece();
    void EndPiece();
    void PieceEnded(const Varkon::QUILApi::UdpStreaming::RecordingStatus& status);
    void DeleteOldest();
    std::string MakeWindow();
    void ForgetVanished();
    double SpanSeconds() const;
    std::string CannotWrite(const std::string& text) const;
    void Problem(const std::string& what);
    void WritesAgain();
    KeepAnswer KeepWindow(const std::string& name);

    BlackBoxSettings settings;
    std::string sensor;
    std::string window;  // <folder>/window
    std::chrono::milliseconds pieceLength;
    uint64_t pieceBytes;  // a piece ends when it holds this much

    std::mutex mutex;
    std::shared_ptr<Varkon::QUILApi::UdpStreaming::QuilStream> stream;
    std::string description;
    std::deque<Piece> closed;  // oldest first
    uint64_t nextNumber = 1;
    bool recording = false;
    uint64_t current = 0;  // the piece in hand's number
    std::chrono::steady_clock::time_point currentStart;
    Varkon::QUILApi::UdpStreaming::StreamStatistics countersAtStart;
    std::string writeProblem;  // "cannot write to <folder>: <reason>" while it cannot; logged
    bool bytesBound = false;   // the bytes have deleted pieces younger than the seconds
    KeptRecordings kept;
    std::optional<std::chrono::steady_clock::time_point> lastKeep;  // the last keep taken
    KeepReport report;
};

}  // namespace Varkon::QuilGateway

#pragma once

// Capturing the sensor's UDP stream: aiming the sensor's output at this host for the time of a
// capture, counting what arrives, what is lost and what goes wrong, and putting the sensor's
// output back whatever ends the capture.

#include "CaptureWriters.h"
#include "Context.h"

#include <quil/Quil.h>
#include <quil/view/SensorFeed.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace QuilTool {

/// The capture's window: what is written. It opens with the first block received and closes
/// after `count` blocks of the counted kind, or when the sensor's time stamps pass `duration`
/// after the first one's, or (`untilInterrupted`) at a signal.
struct CaptureLimits {
    std::size_t count = 0;                      // blocks of the counted kind; 0: no limit
    std::chrono::milliseconds duration{0};      // of the sensor's time; 0: no limit
    bool countProfiles = true;                  // count profiles (else measurements)
    bool untilInterrupted = false;              // SIGINT, SIGTERM or SIGHUP closes the window
    std::chrono::milliseconds idleLimit{5000};  // give up when nothing arrives this long
    std::function<bool()> exhausted;            // the source has nothing more (a recording)
    /// Stops the source once the window has closed (puts the sensor's output back); what it
    /// sent before is then taken to the end. Without it the capture ends at once.
    std::function<void()> closeSource;
};

/// The blocks that the stream missed or could not hand on, by cause. Each lost block is counted
/// under one cause.
struct CaptureLoss {
    uint64_t sensorGap = 0;      // block ids the sensor numbered but that never arrived
    uint64_t systemDrop = 0;     // dropped by the system: the receive buffer was full
    uint64_t cutDatagram = 0;    // a datagram longer than the largest one, cut off
    uint64_t incomplete = 0;     // fragmented blocks whose fragments did not all arrive
    uint64_t undecodable = 0;    // blocks that could not be decoded
    uint64_t queueOverflow = 0;  // received, but dropped because the tool fell behind

    uint64_t Total() const {
        return sensorGap + systemDrop + cutDatagram + incomplete + undecodable + queueOverflow;
    }
    /// The causes, from the stream's counters.
    static CaptureLoss Of(const Varkon::QUILApi::UdpStreaming::StreamStatistics& statistics);
};

struct CaptureCounts {
    uint64_t profiles = 0;      // written (a repeated block once)
    uint64_t measurements = 0;  // written
    uint64_t repeated = 0;      // blocks that arrived twice in a row, written once
    uint64_t afterWindow = 0;   // received after the window closed, not written
    Varkon::QUILApi::UdpStreaming::StreamStatistics statistics;  // the stream's counters
    std::chrono::duration<double> elapsed{0};
    // A recording that could not be read to its end: why (the library's words), and after how
    // many of its records; empty when there was no damage.
    std::string damage;
    uint64_t damagedAfterRecord = 0;
    // A recording's datagrams that its capture kept only part of (its snap length), skipped.
    uint64_t datagramsCutByCapture = 0;

    uint64_t Blocks() const { return profiles + measurements; }
    CaptureLoss Loss() const { return CaptureLoss::Of(statistics); }
    /// Blocks lost, of every cause.
    uint64_t Lost() const { return Loss().Total(); }
    /// Blocks lost, or a recording's datagrams that its capture cut (whose blocks are lost too).
    bool LostData() const { return Lost() != 0 || datagramsCutByCapture != 0; }
    /// "3 blocks", with " and 2 datagrams cut by the capture" when there are such.
    std::string LostInWords() const;
};

/// Takes what `stream` receives within the window (see CaptureLimits), hands each record to
/// `writer` and reports the counts to `progress` about five times a second. When nothing has
/// arrived two seconds after the start, `silent` is told once.
/// @throws std::runtime_error when nothing arrives for `idleLimit`; Interrupted for a recorded
///         signal (unless `untilInterrupted`); OutputClosed for a closed output; what `writer`
///         throws.
CaptureCounts Capture(Varkon::QUILApi::UdpStreaming::QuilStream& stream,
                      const CaptureLimits& limits, CaptureWriter& writer,
                      const std::function<void(const CaptureCounts&)>& progress,
                      const std::function<void()>& silent = {});

/// Where the capture goes and what it carries.
struct CaptureTarget {
    uint16_t port = 5000;
    std::vector<uint32_t> dataIds{1};
};

/// What a capture command asks for: the target, how long, and whether loss is accepted.
struct CaptureRequest {
    CaptureTarget target;
    std::size_t count = 0;  // --count; 0: no limit
    double seconds = 0;     // --seconds; 0: no limit
    bool allowLoss = false;

    /// The limits: profiles are counted when a profile data id is streamed, else measurements.
    CaptureLimits Limits() const;
};

/// The whole capture: starts the client's stream, aims the sensor's output at this host
/// (`context.localAddress`, else the address on the route to the sensor), captures as Capture
/// does, and puts the sensor's output back, also when the capture fails or SIGINT, SIGTERM,
/// SIGHUP or a closed output end it. A failed put-back is the error that leaves. When no data
/// arrive within two seconds, the likely reasons (Quil::DiagnoseStream) go to `context.err`.
/// @throws what Capture throws, after the put-back; std::runtime_error "Could not restore ..."
/// `beforeStart`, when given, is called with the stream before it starts (to start a recording).
CaptureCounts CaptureFromSensor(
    Context& context, Varkon::QUILApi::Quil& quil, const CaptureTarget& target,
    const CaptureLimits& limits, CaptureWriter& writer,
    const std::function<void(const CaptureCounts&)>& progress,
    const std::function<void(Varkon::QUILApi::UdpStreaming::QuilStream&)>& beforeStart = {});

/// A recording (see `quil record`) as the source of a capture instead of the sensor: its
/// datagrams go through the library's stream as fast as they can be read.
class RecordingSource {
public:
    /// @throws std::runtime_error "Could not open recording <path>: <reason>".
    explicit RecordingSource(const std::string& path);
    /// The profiles' millimetres, from the description file beside the recording; without one,
    /// the stream's documented encoding (hundredths of a millimetre).
    Varkon::QUILApi::ProfileCoordinates Coordinates() const;
    /// The data ids recorded, as the description file tells ({1} without one).
    std::vector<uint32_t> DataIds() const;
    /// How far apart the block ids of consecutive profiles lie: the number of data ids recorded,
    /// as the description file tells (1 without one).
    uint32_t BlockIdStep() const;
    /// Captures as Capture does, until the recording's end unless a limit comes first. Damage
    /// ends it too: what was read before it is written, and the counts' `damage` tells where.
    CaptureCounts Capture(CaptureLimits limits, CaptureWriter& writer,
                          const std::function<void(const CaptureCounts&)>& progress);

private:
    std::unique_ptr<Varkon::QUILApi::UdpStreaming::RecordingReplay> replay;
};

/// A progress bar of the capture on standard error when it is a terminal; nothing elsewhere,
/// where standard error holds failures only.
void ShowCaptureProgress(const CaptureCounts& counts, const CaptureLimits& limits, bool terminal);

using Varkon::QUILApi::View::BlockIdStep;

/// @throws InvalidValue naming --data-ids unless the sensor offers every one of `ids`.
void CheckStreamDataIds(Varkon::QUILApi::Quil& quil, const std::vector<uint32_t>& ids);

/// Blocks written, blocks lost by cause, the stream's other problems in words, a receive buffer
/// smaller than asked for with the remedy, a recording's damage and the datagrams its capture cut;
/// as text, and as JSON with
/// every counter by name.
std::string CaptureSummary(const CaptureCounts& counts);
nlohmann::json CaptureSummaryJson(const CaptureCounts& counts);

/// @throws std::runtime_error "<why>; read up to record <n>" when the counts tell of a damaged
/// recording (after its summary was printed).
void ThrowIfDamaged(const CaptureCounts& counts);

}  // namespace QuilTool

#pragma once

// Capturing the sensor's UDP stream: aiming the sensor's output at this host for the time of a
// capture, and counting what arrives, what is lost and what goes wrong.

#include "CaptureWriters.h"

#include <quil/Quil.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace QuilTool {

/// The local address on the route to `host` (what the sensor must send to).
/// @throws std::runtime_error when there is no route.
std::string LocalAddressTowards(const std::string& host);

/// Aims the sensor's UDP output at `address`:`port` with `dataIds`, and puts back the settings it
/// found when destroyed.
class UdpOutputRedirect {
public:
    UdpOutputRedirect(Varkon::QUILApi::Quil& quil, const std::string& address, uint16_t port,
                      const std::vector<uint32_t>& dataIds);
    ~UdpOutputRedirect();
    UdpOutputRedirect(const UdpOutputRedirect&) = delete;
    UdpOutputRedirect& operator=(const UdpOutputRedirect&) = delete;

private:
    Varkon::QUILApi::Quil& quil;
    Varkon::QUILApi::ProcessInterfaces interfaces;
    Varkon::QUILApi::UDPStreamData streamData;
};

struct CaptureLimits {
    std::size_t count = 0;                      // blocks of the counted kind; 0: no limit
    std::chrono::milliseconds duration{0};      // 0: no limit
    bool countProfiles = true;                  // count profiles (else measurements)
    std::chrono::milliseconds idleLimit{5000};  // give up when nothing arrives this long
};

struct CaptureCounts {
    uint64_t profiles = 0;
    uint64_t measurements = 0;
    uint64_t lost = 0;        // blocks missing between the ones received
    uint64_t duplicated = 0;  // blocks received twice (written once)
    std::map<uint32_t, uint64_t> errorsByType;
    std::chrono::duration<double> elapsed{0};

    uint64_t Blocks() const { return profiles + measurements; }
};

/// Takes what `stream` receives until a limit is reached, hands each record to `writer` and
/// reports the counts to `progress` about five times a second.
/// @throws std::runtime_error when nothing arrives for `idleLimit`.
CaptureCounts Capture(Varkon::QUILApi::UdpStreaming::QuilStream& stream,
                      const CaptureLimits& limits, CaptureWriter& writer,
                      const std::function<void(const CaptureCounts&)>& progress);

/// The whole capture: starts the client's stream, aims the sensor's output at this host with
/// `dataIds`, captures as Capture does, and puts the sensor's output back.
CaptureCounts CaptureFromSensor(Varkon::QUILApi::Quil& quil, const std::string& host, uint16_t port,
                                const std::vector<uint32_t>& dataIds, const CaptureLimits& limits,
                                CaptureWriter& writer,
                                const std::function<void(const CaptureCounts&)>& progress);

/// Blocks received, lost and duplicated, and the errors by type.
void PrintCaptureSummary(std::ostream& out, const CaptureCounts& counts);

/// The name of a stream error type, e.g. "PacketsLost".
std::string ErrorTypeName(uint32_t type);

}  // namespace QuilTool

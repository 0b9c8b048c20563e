#pragma once

// Aiming the sensor's UDP output at this host for the time of a capture.

#include <quil/Quil.h>

#include <cstdint>
#include <string>
#include <vector>

namespace QuilTool {

/// Aims the sensor's UDP output at this host for as long as it lives: remembers the sensor's
/// "ProcessInterfaces" and "UDPStreamData", selects `dataIds`, and switches the output on
/// towards `localAddress`:`port`. Destruction or Restore puts both settings back exactly as they
/// were, each independently of the other. The client must stay connected and outlive it. Main
/// thread only.
class StreamOutputAim {
public:
    /// `localAddress` empty: this host's address on the route to `host`.
    /// @throws std::runtime_error "No route to <host>: <reason>" when that address cannot be
    ///         found, and whatever the reads and writes throw. When a write fails, what was
    ///         already written is put back before the exception leaves.
    StreamOutputAim(Varkon::QUILApi::Quil& client, const std::string& host, unsigned short port,
                    std::vector<uint32_t> dataIds, std::string localAddress = {});
    /// Restores, if Restore was not called; a failure is swallowed (call Restore to see it).
    ~StreamOutputAim();
    StreamOutputAim(const StreamOutputAim&) = delete;
    StreamOutputAim& operator=(const StreamOutputAim&) = delete;

    /// Puts back "ProcessInterfaces", then "UDPStreamData", trying both even when the first
    /// fails. Later calls do nothing.
    /// @throws std::runtime_error "Could not restore the sensor's <resource>: <reason>" (both
    ///         reasons, joined with "; ", when both fail).
    void Restore();

    const std::string& GetLocalAddress() const { return localAddress; }

    /// This host's address on the route to `host` (no datagram is sent).
    /// @throws std::runtime_error "No route to <host>: <reason>".
    static std::string LocalAddressTowards(const std::string& host);

private:
    Varkon::QUILApi::Quil& client;
    std::string localAddress;
    Varkon::QUILApi::ProcessInterfaces savedInterfaces;
    Varkon::QUILApi::UDPStreamData savedStreamData;
    bool restored{false};
};

}  // namespace QuilTool

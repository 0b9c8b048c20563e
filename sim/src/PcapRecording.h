#pragma once

#include <quil/sim/RecordedStream.h>

#include <quil/Quil.h>

#include <functional>
#include <memory>
#include <string>

namespace Varkon::QUILApi::Sim {

/// A capture file (as the library records them, or as tcpdump writes them) read as a recorded
/// stream, through the library's RecordingReader: the UDP datagrams to `port`; when it is 0, to
/// the port the description file beside the capture names, or to every port without one. A
/// damaged capture ends the recording where the damage starts, told to `log`.
class PcapRecording : public RecordedStream {
public:
    /// @throws std::runtime_error "Could not open recording <path>: <reason>".
    PcapRecording(const std::string& path, uint16_t port,
                  std::function<void(const std::string&)> log = {});

    bool Next(Datagram& datagram) override;
    void Rewind() override;

private:
    std::unique_ptr<UdpStreaming::RecordingReader> reader;
    std::function<void(const std::string&)> log;
    bool failed = false;
};

}  // namespace Varkon::QUILApi::Sim

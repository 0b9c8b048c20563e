#include "PcapRecording.h"

#include "udpstreaming/recording/PcapDatagramReader.h"
#include "udpstreaming/recording/RecordingDescription.h"

#include <fstream>
#include <sstream>

#include <stdexcept>

namespace Varkon::QUILApi::Sim {

PcapRecording::PcapRecording(const std::string& path, uint16_t port,
                             std::function<void(const std::string&)> log)
    : reader(std::make_unique<UdpStreaming::Recording::PcapDatagramReader>(path)),
      log(std::move(log)) {
    if (port == 0) {
        std::ifstream file(UdpStreaming::Recording::RecordingDescription::PathFor(path));
        std::stringstream text;
        text << file.rdbuf();
        port = UdpStreaming::Recording::RecordingDescription::PortOf(text.str()).value_or(0);
    }
    reader->SetPort(port);
}

PcapRecording::~PcapRecording() = default;

bool PcapRecording::Next(Datagram& datagram) {
    if (failed) {
        return false;
    }
    UdpStreaming::Recording::CapturedDatagram captured;
    try {
        if (!reader->Next(captured)) {
            return false;
        }
    } catch (const std::exception& e) {
        failed = true;
        if (log) {
            log(e.what());
        }
        return false;
    }
    datagram.timeUs = captured.timeNanoseconds / 1000;
    datagram.bytes = std::move(captured.bytes);
    return true;
}

void PcapRecording::Rewind() {
    reader->Rewind();
    failed = false;
}

}  // namespace Varkon::QUILApi::Sim

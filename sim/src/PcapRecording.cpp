#include "PcapRecording.h"

#include <stdexcept>

namespace Varkon::QUILApi::Sim {

PcapRecording::PcapRecording(const std::string& path, uint16_t port,
                             std::function<void(const std::string&)> log)
    : reader(UdpStreaming::RecordingReader::Open(path, port)), log(std::move(log)) {}

bool PcapRecording::Next(Datagram& datagram) {
    if (failed) {
        return false;
    }
    UdpStreaming::RecordedDatagram recorded;
    try {
        if (!reader->Next(recorded)) {
            return false;
        }
    } catch (const std::exception& e) {
        failed = true;
        if (log) {
            log(e.what());
        }
        return false;
    }
    datagram.timeUs = recorded.timeNanoseconds / 1000;
    datagram.bytes = std::move(recorded.bytes);
    return true;
}

void PcapRecording::Rewind() {
    reader->Rewind();
    failed = false;
}

}  // namespace Varkon::QUILApi::Sim

#pragma once

#include <string>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming::Recording {

// The captures a recording's path stands for: the capture itself, or for a folder of pieces (a
// recording moved from capture to capture, as a gateway's black box keeps it) its captures
// (".pcap", ".pcapng") in the order of their names, which the pieces' numbers give.
// @throws std::runtime_error "Could not open recording <folder>: it holds no capture", or
//         "... : <reason>" when the folder cannot be listed.
std::vector<std::string> RecordingPieces(const std::string& path);

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

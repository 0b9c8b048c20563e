#include "udpstreaming/recording/RecordingPieces.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace Varkon::QUILApi::UdpStreaming::Recording {

std::vector<std::string> RecordingPieces(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_directory(path, error)) {
        return {path};  // a capture, or what its opening refuses
    }
    const auto refuse = [&](const std::string& reason) {
        return std::runtime_error("Could not open recording " + path + ": " + reason);
    };
    std::vector<std::string> captures;
    for (fs::directory_iterator entry(path, error), end; !error && entry != end;
         entry.increment(error)) {
        const fs::path& file = entry->path();
        std::error_code ignored;
        if ((file.extension() == ".pcap" || file.extension() == ".pcapng") &&
            entry->is_regular_file(ignored)) {
            captures.push_back(file.string());
        }
    }
    if (error) {
        throw refuse(error.message());
    }
    if (captures.empty()) {
        throw refuse("it holds no capture");
    }
    std::sort(captures.begin(), captures.end());
    return captures;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

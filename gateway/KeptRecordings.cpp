#include "KeptRecordings.h"

#include "Log.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <tuple>
#include <vector>

namespace Varkon::QuilGateway {
namespace {

namespace fs = std::filesystem;

struct Recording {
    fs::file_time_type made;
    std::string name;
    uint64_t bytes;
};

// What a recording's files take; its pieces may be links that the window shares, which are
// counted all the same, as they stay once the window has let them go.
uint64_t BytesIn(const fs::path& recording) {
    uint64_t bytes = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(recording, error)) {
        std::error_code gone;
        const auto size = entry.file_size(gone);
        bytes += gone ? 0 : static_cast<uint64_t>(size);
    }
    return bytes;
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

KeptRecordings::KeptRecordings(std::string folder, std::string sensor, uint32_t most,
                               uint64_t mostBytes)
    : folder((fs::path(folder) / "kept").string()),
      sensor(std::move(sensor)),
      most(most),
      mostBytes(mostBytes) {}

std::string KeptRecordings::PathOf(const std::string& name) const {
    return (fs::path(folder) / name).string();
}

void KeptRecordings::Bound(const std::string& newest) {
    std::vector<Recording> recordings;
    uint64_t bytes = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code ignored;
        if (entry.is_directory(ignored)) {
            const std::string name = entry.path().filename().string();
            recordings.push_back(
                {fs::last_write_time(entry.path(), ignored), name, BytesIn(entry.path())});
            bytes += recordings.back().bytes;
        }
    }
    std::sort(recordings.begin(), recordings.end(), [](const Recording& a, const Recording& b) {
        return std::tie(a.made, a.name) < std::tie(b.made, b.name);
    });
    std::size_t left = recordings.size();
    for (const Recording& oldest : recordings) {
        if (left <= most && bytes <= mostBytes) {
            break;
        }
        if (oldest.name == newest) {
            continue;
        }
        std::error_code failed;
        fs::remove_all(PathOf(oldest.name), failed);
        if (failed) {
            LogLine("sensor " + sensor + ": black box: cannot remove the kept recording " +
                    Quoted(oldest.name) + ": " + failed.message());
            continue;
        }
        LogLine("sensor " + sensor + ": black box: removed the oldest kept recording " +
                Quoted(oldest.name) + " (" + Megabytes(oldest.bytes) +
                "), as the kept recordings may be at most " + std::to_string(most) + " and " +
                Megabytes(mostBytes));
        --left;
        bytes -= oldest.bytes;
    }
}

}  // namespace Varkon::QuilGateway

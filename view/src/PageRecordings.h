#pragma once

// The recordings a page starts: one at a time, at most one start in each interval, and all of
// them together within a budget of disk space, so that a page, however it is driven, cannot
// fill the disk or the folder. The files are the view's own, "quil-view-<time>.pcap" with their
// descriptions, in one folder; files there from earlier runs count against the budget too.
// Not thread-safe: the server calls it from its I/O thread.

#include <quil/Quil.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace Varkon::QUILApi::View {

struct RecordingLimits {
    std::string directory = ".";
    std::chrono::steady_clock::duration interval = std::chrono::seconds(5);
    uint64_t budgetBytes = uint64_t{1} << 30;
};

class PageRecordings {
public:
    explicit PageRecordings(RecordingLimits limits) : limits(std::move(limits)) {}

    /// Starts recording `stream`; why it did not, or empty.
    std::string Start(const std::shared_ptr<UdpStreaming::QuilStream>& stream,
                      const UdpStreaming::RecordingOptions& options,
                      std::chrono::steady_clock::time_point now);
    /// Stops the recording of `stream`, whoever started it; why that failed, or empty.
    std::string Stop(UdpStreaming::QuilStream& stream);
    /// Stops the running recording once the page's files pass their budget; the stream it
    /// stopped, or null.
    std::shared_ptr<UdpStreaming::QuilStream> Enforce();

    /// The budget in words, "1024 MB".
    std::string Budget() const;
    /// The bytes of the view's files in the folder.
    uint64_t BytesUsed() const;
    /// "quil-view-20261208-014502.pcap" in the folder, numbered on when that exists.
    std::filesystem::path NewPath() const;

private:
    bool Running() const;

    RecordingLimits limits;
    std::shared_ptr<UdpStreaming::QuilStream> running;
    std::chrono::steady_clock::time_point lastStart{};
    bool started = false;
};

}  // namespace Varkon::QUILApi::View

#include "PageRecordings.h"

#include <ctime>
#include <system_error>

namespace Varkon::QUILApi::View {

namespace {

constexpr std::string_view kPrefix = "quil-view-";

std::string Megabytes(uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

}  // namespace

bool PageRecordings::Running() const {
    return running && running->GetRecordingStatus().recording;
}

std::string PageRecordings::Start(const std::shared_ptr<UdpStreaming::QuilStream>& stream,
                                  const UdpStreaming::RecordingOptions& options,
                                  std::chrono::steady_clock::time_point now) {
    if (stream->GetRecordingStatus().recording) {
        return {};
    }
    if (Running()) {
        return "another recording of this view is running; stop it first";
    }
    if (started && now - lastStart < limits.interval) {
        const auto wait =
            std::chrono::ceil<std::chrono::seconds>(limits.interval - (now - lastStart));
        return "a recording was started moments ago; try again in " + std::to_string(wait.count()) +
               " s";
    }
    const uint64_t used = BytesUsed();
    if (used >= limits.budgetBytes) {
        return "the view's recordings in " + limits.directory + " take " + Megabytes(used) +
               ", their budget is " + Budget() + "; move or delete some";
    }
    try {
        stream->StartRecording(NewPath().string(), options);
    } catch (const std::exception& error) {
        return error.what();
    }
    running = stream;
    lastStart = now;
    started = true;
    return {};
}

std::string PageRecordings::Stop(UdpStreaming::QuilStream& stream) {
    if (running.get() == &stream) {
        running.reset();
    }
    return stream.StopRecording().error;
}

std::shared_ptr<UdpStreaming::QuilStream> PageRecordings::Enforce() {
    if (!Running()) {
        running.reset();
        return nullptr;
    }
    if (BytesUsed() < limits.budgetBytes) {
        return nullptr;
    }
    running->StopRecording();
    return std::exchange(running, nullptr);
}

std::string PageRecordings::Budget() const {
    return Megabytes(limits.budgetBytes);
}

uint64_t PageRecordings::BytesUsed() const {
    uint64_t used = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(limits.directory, error), end;
         !error && entry != end; entry.increment(error)) {
        std::error_code sizeError;
        if (entry->path().filename().string().rfind(kPrefix, 0) == 0 &&
            entry->is_regular_file(sizeError)) {
            const uint64_t size = entry->file_size(sizeError);
            used += sizeError ? 0 : size;
        }
    }
    return used;
}

std::filesystem::path PageRecordings::NewPath() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::filesystem::path base =
        std::filesystem::path(limits.directory) / (std::string(kPrefix) + stamp);
    std::filesystem::path path = base.string() + ".pcap";
    for (int n = 2; std::filesystem::exists(path); ++n) {
        path = base.string() + "-" + std::to_string(n) + ".pcap";
    }
    return path;
}

}  // namespace Varkon::QUILApi::View

#include "udpstreaming/recording/RecordingDescription.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

std::string UtcText(int64_t microseconds) {
    const std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(microseconds % 1000000));
    return text;
}

std::string FileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string RecordingDescription::PathFor(const std::string& capturePath) {
    const auto slash = capturePath.find_last_of('/');
    const auto dot = capturePath.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? capturePath.substr(0, dot) : capturePath) + ".json";
}

nlohmann::json RecordingDescription::Build(const RecordingStatus& status, uint16_t port,
                                           const nlohmann::json& sensor,
                                           const std::optional<StreamStatistics>& counters) {
    nlohmann::json description = {
        {"format", "quil recording"},
        {"formatVersion", kFormatVersion},
        {"capture", FileName(status.path)},
        {"stream", {{"port", port}}},
        {"started", UtcText(status.startMicroseconds)},
        {"startedMicroseconds", status.startMicroseconds},
        {"recording",
         {{"datagramsWritten", status.datagramsWritten},
          {"datagramsDropped", status.datagramsDropped},
          {"error", status.error}}},
    };
    if (status.endMicroseconds != 0) {
        description["ended"] = UtcText(status.endMicroseconds);
        description["endedMicroseconds"] = status.endMicroseconds;
    }
    if (counters) {
        nlohmann::json byName = nlohmann::json::object();
        VisitFields<StreamStatistics>(
            [&](const auto& field) { byName[field.key] = (*counters).*field.member; });
        description["counters"] = byName;
    }
    if (!sensor.is_null()) {
        description["sensor"] = sensor;
    }
    return description;
}

std::optional<uint16_t> RecordingDescription::PortOf(const std::string& descriptionText) {
    const auto description = nlohmann::json::parse(descriptionText, nullptr, false);
    if (description.is_discarded() || !description.is_object()) {
        return std::nullopt;
    }
    const auto stream = description.find("stream");
    if (stream == description.end() || !stream->is_object()) {
        return std::nullopt;
    }
    const auto port = stream->find("port");
    if (port == stream->end() || !port->is_number_unsigned() || port->get<uint64_t>() == 0 ||
        port->get<uint64_t>() > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(port->get<uint64_t>());
}

std::string RecordingDescription::Read(const std::string& capturePath) {
    const std::string path = PathFor(capturePath);
    const auto refuse = [&](const std::string& reason) {
        return std::runtime_error("Could not open recording " + capturePath + ": its description " +
                                  path + " " + reason);
    };
    // Without blocking, so that a pipe is refused instead of waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    struct FileCloser {
        int fd;
        ~FileCloser() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        throw refuse("is not a regular file");
    }
    const auto tooLarge = [&] {
        return refuse("is larger than " + std::to_string(kMostBytes / (1024 * 1024)) + " MiB");
    };
    if (static_cast<uint64_t>(info.st_size) > kMostBytes) {
        throw tooLarge();
    }
    // Up to one byte past the limit: the file may have grown since fstat.
    std::string text(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size()) {
            if (text.size() > kMostBytes) {
                break;
            }
            text.resize(std::min(2 * text.size(), kMostBytes + 1));
        }
        const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw refuse(std::string("could not be read: ") + std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled > kMostBytes) {
        throw tooLarge();
    }
    text.resize(filled);
    return text;
}

void RecordingDescription::Write(const std::string& path, const nlohmann::json& description) {
    const std::string text = description.dump(2) + "\n";
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        throw std::runtime_error("Could not write " + path + ": " + std::strerror(errno));
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        throw std::runtime_error("Could not write " + path + ": " +
                                 std::strerror(written ? errno : writeError));
    }
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording

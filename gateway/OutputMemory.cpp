#include "OutputMemory.h"

#include <quil/Json.h>

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace Varkon::QuilGateway {
namespace {

std::string FileNamePart(std::string text) {
    for (char& c : text) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                          c == '.' || c == ':';
        if (!kept) {
            c = '_';
        }
    }
    return text;
}

std::string Reason(int error) {
    return error != 0 ? std::strerror(error) : "unknown reason";
}

// `text` in the file at `path`, on the disk before the call returns.
void WriteDurably(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::runtime_error(Reason(errno));
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw std::runtime_error(Reason(error));
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error(Reason(error));
    }
    ::close(fd);
}

// The rename itself survives a power cut only once the folder is flushed too.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

OutputMemory::OutputMemory(const std::string& folder, const std::string& sensor,
                           const std::string& address)
    : path((std::filesystem::path(folder) /
            (FileNamePart(sensor) + "@" + FileNamePart(address) + ".output.json"))
               .string()) {}

std::optional<OutputSettings> OutputMemory::Recall() const {
    errno = 0;
    std::ifstream file(path);
    if (!file) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw std::runtime_error("cannot read " + path + ": " + Reason(errno));
    }
    try {
        const nlohmann::json kept = nlohmann::json::parse(file);
        return OutputSettings{Varkon::QUILApi::FromPlainJson<Varkon::QUILApi::ProcessInterfaces>(
                                  kept.at("ProcessInterfaces")),
                              Varkon::QUILApi::FromPlainJson<Varkon::QUILApi::UDPStreamData>(
                                  kept.at("UDPStreamData"))};
    } catch (const nlohmann::json::exception&) {
        throw std::runtime_error("cannot read " + path +
                                 ": not the output settings the gateway keeps");
    }
}

void OutputMemory::Keep(const OutputSettings& found) const {
    const nlohmann::json kept = {{"ProcessInterfaces", found.interfaces},
                                 {"UDPStreamData", found.streamData}};
    const std::string temporary = path + ".tmp";
    try {
        WriteDurably(temporary, kept.dump(2) + "\n");
    } catch (const std::runtime_error& error) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot keep the output settings in " + path + ": " +
                                 error.what());
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot keep the output settings in " + path + ": " +
                                 Reason(error));
    }
    SyncFolder(std::filesystem::path(path).parent_path().string());
}

void OutputMemory::Forget() const {
    std::remove(path.c_str());
}

OutputSettings PutBackFoundOutput(Varkon::QUILApi::Quil& client, const OutputMemory* memory,
                                  std::optional<OutputSettings> found) {
    if (!found && memory != nullptr) {
        found = memory->Recall();
    }
    OutputSettings now{client.GetProcessInterfaces(), client.GetUDPStreamData()};
    if (!found) {
        if (memory != nullptr) {
            memory->Keep(now);
        }
        return now;
    }
    if (now.interfaces != found->interfaces) {
        client.SetProcessInterfaces(found->interfaces);
    }
    if (now.streamData != found->streamData) {
        client.SetUDPStreamData(found->streamData);
    }
    return *found;
}

std::string StateFolder(const std::string& configurationPath) {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
        const std::string folders = state;
        return folders.substr(0, folders.find(':'));
    }
    const auto folder = std::filesystem::path(configurationPath).parent_path();
    return folder.empty() ? "." : folder.string();
}

}  // namespace Varkon::QuilGateway

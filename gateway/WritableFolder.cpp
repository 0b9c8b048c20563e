#include "WritableFolder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace Varkon::QuilGateway {

std::string WhyNotWritableFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    fs::path existing = fs::absolute(folder).lexically_normal();
    std::error_code error;
    while (!fs::exists(existing, error) && existing.has_relative_path()) {
        existing = existing.parent_path();
    }
    // The path as written when it exists, so that the reason names what the user wrote.
    const std::string shown =
        existing == fs::absolute(folder).lexically_normal() ? folder : existing.string();
    if (!fs::is_directory(existing, error)) {
        return shown + " is not a folder";
    }
    if (access(existing.c_str(), W_OK | X_OK) != 0) {
        return "cannot write in " + shown + ": " + std::strerror(errno);
    }
    return {};
}

}  // namespace Varkon::QuilGateway

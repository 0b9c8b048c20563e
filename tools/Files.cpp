#include "Files.h"

#include "Failure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace QuilTool {
namespace {

// ": <why>" for the errno of a failed open or write, in the system's words ("No such file or
// directory"); empty when the system gave none.
std::string Reason(int error) {
    return error == 0 ? std::string() : ": " + std::string(std::strerror(error));
}

}  // namespace

void WriteFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
        write(file);
        file.close();
    }
    if (!file) {
        const int error = errno;
        throw std::runtime_error("cannot write " + path + Reason(error));
    }
}

std::string WhyNotWritable(const std::string& path) {
    if (path.empty()) {
        return ": no file name was given";
    }
    const auto slash = path.rfind('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    struct stat status {};
    if (stat(directory.c_str(), &status) != 0) {
        return Reason(errno);
    }
    if (!S_ISDIR(status.st_mode)) {
        return Reason(ENOTDIR);
    }
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            return Reason(EISDIR);
        }
        return access(path.c_str(), W_OK) == 0 ? ": the write failed (is the disk full?)"
                                               : Reason(errno);
    }
    return access(directory.c_str(), W_OK) == 0 ? ": the write failed (is the disk full?)"
                                                : Reason(errno);
}

std::string Suffix(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of('/');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash)
               ? std::string()
               : path.substr(dot);
}

void CheckImageType(const std::string& path, const std::vector<std::string>& suffixes,
                    const std::string& uses) {
    const std::string suffix = Suffix(path);
    if (std::find(suffixes.begin(), suffixes.end(), suffix) == suffixes.end()) {
        throw UsageError("cannot write " + path + ": unsupported image type \"" + suffix +
                         "\" (use " + uses + ")");
    }
}

std::string ReadFile(const std::string& path) {
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        const int error = errno;
        throw std::runtime_error("cannot read " + path + Reason(error));
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace QuilTool

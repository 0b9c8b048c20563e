#include "SecretFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace Varkon::QuilGateway {
namespace {

std::ifstream Open(const std::string& path) {
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path + ": " +
                                 (errno != 0 ? std::strerror(errno) : "unknown reason"));
    }
    return file;
}

}  // namespace

std::string ReadSecretFile(const std::string& path) {
    std::ifstream file = Open(path);
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(EIO));
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::string CredentialPath(const std::string& name) {
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (credentials == nullptr || *credentials == '\0' ||
        std::filesystem::path(name).is_absolute()) {
        return {};
    }
    const std::filesystem::path path = std::filesystem::path(credentials) / name;
    std::error_code unknown;
    return std::filesystem::exists(path, unknown) ? path.string() : std::string();
}

void CheckReadable(const std::string& path) {
    Open(path);
}

}  // namespace Varkon::QuilGateway

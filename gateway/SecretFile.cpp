#include "SecretFile.h"

#include <cerrno>
#include <cstring>
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

void CheckReadable(const std::string& path) {
    Open(path);
}

}  // namespace Varkon::QuilGateway

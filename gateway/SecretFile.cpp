#include "SecretFile.h"

#include "SmallFile.h"

#include <cstdlib>
#include <filesystem>

namespace Varkon::QuilGateway {

std::string ReadSecretFile(const std::string& path) {
    std::string text = ReadSmallFile(path, kMaxSecretFileBytes);
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

}  // namespace Varkon::QuilGateway

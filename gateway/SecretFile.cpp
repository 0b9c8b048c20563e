#include "SecretFile.h"

#include "SmallFile.h"

namespace Varkon::QuilGateway {

std::string ReadSecretFile(const std::string& path) {
    std::string text = ReadSmallFile(path, kMaxSecretFileBytes);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace Varkon::QuilGateway

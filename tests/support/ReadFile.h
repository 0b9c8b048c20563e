#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace Varkon::QUILApi::Testing {

/// The bytes of the file at `path`; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace Varkon::QUILApi::Testing

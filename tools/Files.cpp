#include "Files.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace QuilTool {

void WriteFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
        write(file);
        file.close();
    }
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace QuilTool

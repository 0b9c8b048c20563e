#include "Log.h"

#include <iostream>
#include <mutex>

namespace Varkon::QuilGateway {

void LogLine(const std::string& line) {
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    std::cerr << "quil-gateway: " << line << std::endl;
}

}  // namespace Varkon::QuilGateway

#pragma once

#include <cstddef>
#include <fstream>

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUIL_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUIL_TEST_SANITIZED 1
#endif
#endif

#ifdef QUIL_TEST_SANITIZED
// From the sanitizers' runtime (GCC does not install the header that declares it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace Varkon::QUILApi::Testing {

/// Bytes of memory that the process holds: its resident set. Under AddressSanitizer or
/// ThreadSanitizer, whose quarantine and shadow memory swell the resident set whatever the
/// program keeps, the bytes the program has allocated and not freed instead.
inline std::size_t MemoryInUse() {
#ifdef QUIL_TEST_SANITIZED
    return __sanitizer_get_current_allocated_bytes();
#else
    std::size_t total = 0;
    std::size_t resident = 0;
    std::ifstream("/proc/self/statm") >> total >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

constexpr std::size_t kMiB = 1024 * 1024;

}  // namespace Varkon::QUILApi::Testing

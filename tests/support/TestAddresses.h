// Loopback addresses and UDP ports for tests, handed out so that no two tests collide, also when
// ctest runs them in parallel processes: the test program's block (QUIL_TEST_BLOCK, assigned in
// tests/CMakeLists.txt) and the running test's place among the program's tests pick them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#ifndef QUIL_TEST_BLOCK
#error "QUIL_TEST_BLOCK names the test program's block of addresses; see tests/CMakeLists.txt"
#endif

namespace Varkon::QUILApi::Testing {

// Place of the running test among all tests of this program, filtered out or not.
inline unsigned TestIndex() {
    const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
    const testing::TestInfo* current = unit.current_test_info();
    if (current == nullptr) {
        throw std::logic_error("Test addresses are handed out inside a test only.");
    }
    unsigned index = 0;
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const testing::TestSuite& suite = *unit.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t, ++index) {
            if (suite.GetTestInfo(t) == current) {
                return index;
            }
        }
    }
    throw std::logic_error("The running test is not registered.");
}

/// Address `n` (0 to 253) of the running test: 127.<block>.<test>.<n + 1>.
inline std::string TestAddress(unsigned n = 0) {
    const unsigned test = TestIndex();
    if (test > 255 || n > 253) {
        throw std::out_of_range("No test address left.");
    }
    return "127." + std::to_string(QUIL_TEST_BLOCK) + "." + std::to_string(test) + "." +
           std::to_string(n + 1);
}

/// UDP port `n` (0 to 3) of the running test, from 10000 + 2000 * block on; all below 32768.
inline uint16_t TestPort(unsigned n = 0) {
    const unsigned test = TestIndex();
    if (test > 499 || n > 3) {
        throw std::out_of_range("No test port left.");
    }
    return static_cast<uint16_t>(10000 + 2000 * QUIL_TEST_BLOCK + 4 * test + n);
}

}  // namespace Varkon::QUILApi::Testing

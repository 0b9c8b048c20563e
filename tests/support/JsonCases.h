#pragma once

// Helpers for table-driven tests of reads: variations of a good reply, and the expected
// failure of each variation by kind and text.

#include "support/ExpectThrow.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

namespace Varkon::QUILApi::Testing {

/// `data` with the value at the JSON pointer `at` set to `value` (created when absent).
inline nlohmann::json With(nlohmann::json data, const std::string& at, nlohmann::json value) {
    data[nlohmann::json::json_pointer(at)] = std::move(value);
    return data;
}

/// `data` without the value at the JSON pointer `at`.
inline nlohmann::json Without(nlohmann::json data, const std::string& at) {
    const nlohmann::json::json_pointer pointer(at);
    data[pointer.parent_pointer()].erase(pointer.back());
    return data;
}

/// The kinds of failure of the read frame.
enum class Failure {
    Empty,       // std::invalid_argument "No response received (is null)."
    Missing,     // std::out_of_range "Field <key> missing in response."
    Type,        // nlohmann::json::type_error, text without the "[json.exception...] " prefix
    OutOfRange,  // another std::out_of_range
    Invalid,     // another std::invalid_argument
    Domain,      // std::domain_error
};

/// One row of a failure table: a reply and how reading it fails.
struct FailureCase {
    nlohmann::json data;
    Failure kind;
    std::string text;
};

/// Checks that `call` fails as `kind` with `text` (for Missing: the key; for Empty: ignored).
inline ::testing::AssertionResult Fails(const std::function<void()>& call, Failure kind,
                                        const std::string& text) {
    switch (kind) {
        case Failure::Empty:
            return Throws<std::invalid_argument>(call, "No response received (is null).");
        case Failure::Missing:
            return Throws<std::out_of_range>(call, "Field " + text + " missing in response.");
        case Failure::Type:
            return Throws<nlohmann::json::type_error>(call,
                                                      "[json.exception.type_error.302] " + text);
        case Failure::OutOfRange:
            return Throws<std::out_of_range>(call, text);
        case Failure::Invalid:
            return Throws<std::invalid_argument>(call, text);
        case Failure::Domain:
            return Throws<std::domain_error>(call, text);
    }
    return ::testing::AssertionFailure() << "unknown kind";
}

}  // namespace Varkon::QUILApi::Testing

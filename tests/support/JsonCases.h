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

/// How a call fails: the exception's type, and what the row's text means for its message.
enum class Failure {
    Empty,       // std::invalid_argument "No response received (is null)."; text ignored
    Missing,     // std::out_of_range "Field <text> missing in response."
    Type,        // nlohmann::json::type_error; a text without the "[json.exception.type_error.N] "
                 // prefix stands for the most common one, N = 302
    OutOfRange,  // another std::out_of_range
    Invalid,     // another std::invalid_argument
    Domain,      // std::domain_error
    JsonOutOfRange,  // nlohmann::json::out_of_range, the whole message
};

/// One row of every failure table: what the row feeds the call under test (a reply by default)
/// and how the call then fails.
template <class Input>
struct FailureRow {
    Input input;
    Failure kind;
    std::string text;
};
using FailureCase = FailureRow<nlohmann::json>;

/// Checks that `call` fails as `kind` with `text`.
inline ::testing::AssertionResult Fails(const std::function<void()>& call, Failure kind,
                                        const std::string& text) {
    switch (kind) {
        case Failure::Empty:
            return Throws<std::invalid_argument>(call, "No response received (is null).");
        case Failure::Missing:
            return Throws<std::out_of_range>(call, "Field " + text + " missing in response.");
        case Failure::Type:
            return Throws<nlohmann::json::type_error>(
                call, text.rfind("[json.exception.", 0) == 0
                          ? text
                          : "[json.exception.type_error.302] " + text);
        case Failure::OutOfRange:
            return Throws<std::out_of_range>(call, text);
        case Failure::Invalid:
            return Throws<std::invalid_argument>(call, text);
        case Failure::Domain:
            return Throws<std::domain_error>(call, text);
        case Failure::JsonOutOfRange:
            return Throws<nlohmann::json::out_of_range>(call, text);
    }
    return ::testing::AssertionFailure() << "unknown kind";
}

/// Checks that `call` fails as the row says.
template <class Input>
::testing::AssertionResult Fails(const std::function<void()>& call, const FailureRow<Input>& row) {
    return Fails(call, row.kind, row.text);
}

}  // namespace Varkon::QUILApi::Testing

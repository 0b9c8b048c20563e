#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <typeinfo>

namespace Varkon::QUILApi::Testing {

/// Runs `call` and checks that it throws exactly the exception type `Expected` with `text`.
template <class Expected>
::testing::AssertionResult Throws(const std::function<void()>& call, const std::string& text) {
    try {
        call();
    } catch (const std::exception& e) {
        if (typeid(e) != typeid(Expected)) {
            return ::testing::AssertionFailure() << "threw " << typeid(e).name() << " (" << e.what()
                                                 << "), expected " << typeid(Expected).name();
        }
        if (e.what() != text) {
            return ::testing::AssertionFailure()
                   << "text \"" << e.what() << "\", expected \"" << text << "\"";
        }
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "nothing thrown, expected \"" << text << "\"";
}

}  // namespace Varkon::QUILApi::Testing

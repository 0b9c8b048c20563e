#pragma once

// Reading JSON numbers into fixed-width integer fields. The JSON library converts with a plain
// cast, which for a number the field cannot hold is undefined (a floating-point value) or
// silently wrong (an integer that wraps). These helpers convert by the library's rules but first
// refuse such a number the way the library refuses a value of the wrong type: with
// nlohmann::json::type_error 302, here naming the field and the value. A floating-point number
// counts as held when its integral part is; booleans and every other type pass to the library
// unchanged.

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace Varkon::QUILApi::WebSockets {

namespace Detail {

template <class T>
constexpr bool kIsIntegerField = std::is_integral_v<T> && !std::is_same_v<T, bool>;

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};

// Whether the number `value` fits T; true for anything that is no number.
template <class T>
bool Fits(const nlohmann::json& value) {
    using Limits = std::numeric_limits<T>;
    switch (value.type()) {
        case nlohmann::json::value_t::number_integer: {
            const auto number = value.get_ref<const nlohmann::json::number_integer_t&>();
            if (number < 0) {
                return std::is_signed_v<T> &&
                       number >= static_cast<nlohmann::json::number_integer_t>(Limits::min());
            }
            return static_cast<uint64_t>(number) <= static_cast<uint64_t>(Limits::max());
        }
        case nlohmann::json::value_t::number_unsigned:
            return value.get_ref<const nlohmann::json::number_unsigned_t&>() <=
                   static_cast<uint64_t>(Limits::max());
        case nlohmann::json::value_t::number_float: {
            // Both bounds are exact in double: min is 0 or -2^(n-1), max + 1 a power of two.
            const double whole = std::trunc(value.get_ref<const double&>());
            const double beyondMax = 2.0 * static_cast<double>(Limits::max() / 2 + 1);
            return whole >= static_cast<double>(Limits::min()) && whole < beyondMax;  // NaN: no
        }
        default:
            return true;
    }
}

[[noreturn]] inline void ThrowOutOfRange(const nlohmann::json& value, const std::string& field) {
    throw nlohmann::json::type_error::create(
        302, "number out of range for " + field + ": " + value.dump(), nullptr);
}

}  // namespace Detail

/// Converts `value` into `out` by the JSON library's rules. For an integer field, or a list of
/// them, a number that the field cannot hold throws nlohmann::json::type_error
/// "[json.exception.type_error.302] number out of range for <field>: <value>"; list elements are
/// taken in order, so an earlier element of the wrong type still fails first.
template <class T>
void GetChecked(const nlohmann::json& value, const std::string& field, T& out) {
    if constexpr (Detail::kIsIntegerField<T>) {
        if (!Detail::Fits<T>(value)) {
            Detail::ThrowOutOfRange(value, field);
        }
    } else if constexpr (Detail::IsVector<T>::value) {
        using Element = typename T::value_type;
        if constexpr (Detail::kIsIntegerField<Element>) {
            if (value.is_array()) {
                for (const auto& element : value) {
                    if (!element.is_number() && !element.is_boolean()) {
                        break;  // the library's type error comes first
                    }
                    if (!Detail::Fits<Element>(element)) {
                        Detail::ThrowOutOfRange(element, field);
                    }
                }
            }
        }
    }
    value.get_to(out);
}

/// As above, returning the value.
template <class T>
T GetChecked(const nlohmann::json& value, const std::string& field) {
    T out{};
    GetChecked(value, field, out);
    return out;
}

}  // namespace Varkon::QUILApi::WebSockets

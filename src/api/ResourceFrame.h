#pragma once

// The frame every resource operation is built from. A record that declares its fields once in a
// Schema specialisation is read with `data.get<Record>()`: every required key is checked first,
// in field order, and only then are the fields converted by the JSON library's rules. Nested
// records and vectors of records work the same way, element by element.

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace Varkon::QUILApi::Frame {

/// @throws std::out_of_range "Field <key> missing in response." unless `data` is an object
///         with the key (a null value counts as present).
void CheckField(const nlohmann::json& data, const std::string& key);

/// @throws std::invalid_argument "No response received (is null)." for null, {} and [].
void CheckNotEmpty(const nlohmann::json& data);

/// A field whose key must be present.
template <class Record, class T>
struct Required {
    const char* key;
    T Record::*member;

    void Check(const nlohmann::json& data) const { CheckField(data, key); }
    void Convert(const nlohmann::json& data, Record& record) const {
        data.at(key).get_to(record.*member);
    }
};

/// A field that takes `fallback` when its key is absent.
template <class Record, class T>
struct Optional {
    const char* key;
    T Record::*member;
    T fallback;

    void Check(const nlohmann::json&) const {}
    void Convert(const nlohmann::json& data, Record& record) const {
        record.*member = data.value(key, fallback);
    }
};

template <class Record, class T>
Required<Record, T> Field(const char* key, T Record::*member) {
    return {key, member};
}

template <class Record, class T, class Fallback>
Optional<Record, T> OptionalField(const char* key, T Record::*member, Fallback fallback) {
    return {key, member, T(std::move(fallback))};
}

/// Specialise with `static inline const auto fields = std::make_tuple(Field(...), ...);`, the
/// fields in record order.
template <class Record>
struct Schema;

template <class Record, class = void>
struct HasSchema : std::false_type {};
template <class Record>
struct HasSchema<Record, std::void_t<decltype(Schema<Record>::fields)>> : std::true_type {};

template <class Record>
Record FromJson(const nlohmann::json& data) {
    Record record{};
    const auto& fields = Schema<Record>::fields;
    std::apply([&data](const auto&... field) { (field.Check(data), ...); }, fields);
    std::apply([&](const auto&... field) { (field.Convert(data, record), ...); }, fields);
    return record;
}

/// The JSON object of a write, built from (key, value) pairs.
using Members = std::initializer_list<std::pair<const char*, nlohmann::json>>;
nlohmann::json Object(Members members);

template <>
struct Schema<IdNameEntry> {
    static inline const auto fields =
        std::make_tuple(Field("id", &IdNameEntry::id), Field("name", &IdNameEntry::name));
};

}  // namespace Varkon::QUILApi::Frame

namespace Varkon::QUILApi {

// Found by the JSON library through argument-dependent lookup for every record with a Schema.
template <class Record, std::enable_if_t<Frame::HasSchema<Record>::value, int> = 0>
void from_json(const nlohmann::json& data, Record& record) {
    record = Frame::FromJson<Record>(data);
}

}  // namespace Varkon::QUILApi

#pragma once

/// @file
/// JSON forms of the records of quil/Quil.h, from each record's own field list: the whole record
/// by its keys (also found by the JSON library, for `nlohmann::json(record)`), the body of a
/// write, and a plain reading that takes every key as it is. Opt-in: only a program that includes
/// this header needs nlohmann/json (Debian: nlohmann-json3-dev). The library reads the sensor's
/// replies with their own checks and exact texts instead.

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <type_traits>
#include <vector>

namespace Varkon::QUILApi {

/// `json` becomes the object of every field of `record`, by its key.
template <class Record, std::enable_if_t<IsRecord<Record>::value, int> = 0>
void to_json(nlohmann::json& json, const Record& record) {
    json = nlohmann::json::object();
    VisitFields<Record>([&](const auto& field) { json[field.key] = record.*field.member; });
}

/// The body of a write of `record`: every field but the read-only ones.
template <class Record>
nlohmann::json WriteBody(const Record& record) {
    nlohmann::json body = nlohmann::json::object();
    VisitFields<Record>([&](const auto& field) {
        if (!field.readOnly) {
            body[field.key] = record.*field.member;
        }
    });
    return body;
}

/// `json` as a T: a record from every one of its keys (nlohmann::json's errors for a missing key
/// or a wrong type), a list element by element, anything else by the JSON library's rules.
template <class T>
T FromPlainJson(const nlohmann::json& json) {
    if constexpr (IsRecord<T>::value) {
        T record{};
        VisitFields<T>([&](const auto& field) {
            using Field = typename std::decay_t<decltype(field)>::Type;
            record.*field.member = FromPlainJson<Field>(json.at(field.key));
        });
        return record;
    } else if constexpr (IsRecordList<T>::value) {
        T list;
        for (const auto& element : json) {
            list.push_back(FromPlainJson<typename T::value_type>(element));
        }
        return list;
    } else {
        return json.get<T>();
    }
}

}  // namespace Varkon::QUILApi

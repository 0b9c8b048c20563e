#pragma once

// The frame every resource operation is built from. A record that declares its fields once in a
// Schema specialisation is read with `data.get<Record>()`: every required key is checked first,
// in field order, and only then are the fields converted by the JSON library's rules, except
// that a number an integer field cannot hold fails like a value of the wrong type (see
// websockets/CheckedNumbers.h). Nested records and lists of records are read the same way,
// element by element.

#include "websockets/CheckedNumbers.h"

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace Varkon::QUILApi::ResourceFrame {

/// @throws std::out_of_range "Field <key> missing in response." unless `data` is an object
///         with the key (a null value counts as present).
void CheckField(const nlohmann::json& data, const std::string& key);

/// @throws std::invalid_argument "No response received (is null)." for null, {} and [].
void CheckNotEmpty(const nlohmann::json& data);

template <class T>
struct IsTuple : std::false_type {};
template <class... T>
struct IsTuple<std::tuple<T...>> : std::true_type {};

inline bool Named(const char* key, const char* other) {
    return std::strcmp(key, other) == 0;
}

// How a record is read. Four passes over its fields, each in field order:
//   1. Check:      every required key is present (before anything is converted);
//   2. CheckInner: the required keys of nested records;
//   3. Walk:       lists that are walked element by element (each element read whole);
//   4. Convert:    the remaining values, by the JSON library's conversion rules.
// A field kind implements the passes it takes part in; FieldBase supplies the others.
struct FieldBase {
    void Check(const nlohmann::json&) const {}
    void CheckInner(const nlohmann::json&) const {}
    template <class Record>
    void Walk(const nlohmann::json&, Record&) const {}
    template <class Record>
    void Convert(const nlohmann::json&, Record&) const {}
};

/// How `Record` is read. Unless specialised, derived from the record's own field list (see
/// DerivedSchema). A specialisation declares `static inline const auto fields`: a
/// DerivedSchema with overrides, or a tuple of field kinds in record order.
template <class Record, class = void>
struct Schema {};

template <class Record, class = void>
struct HasSchema : std::false_type {};
template <class Record>
struct HasSchema<Record, std::void_t<decltype(Schema<Record>::fields)>> : std::true_type {};

template <class Fields, class Pass>
void ForEachOf(const Fields& fields, Pass& pass) {
    if constexpr (IsTuple<Fields>::value) {
        std::apply([&pass](const auto&... field) { (pass(field), ...); }, fields);
    } else {
        fields.ForEach(pass);
    }
}

template <class Record, class Pass>
void ForEachField(Pass pass) {
    ForEachOf(Schema<Record>::fields, pass);
}

template <class Record>
void CheckKeys(const nlohmann::json& data) {
    ForEachField<Record>([&](const auto& field) { field.Check(data); });
    ForEachField<Record>([&](const auto& field) { field.CheckInner(data); });
}

template <class Record>
void WalkLists(const nlohmann::json& data, Record& record) {
    ForEachField<Record>([&](const auto& field) { field.Walk(data, record); });
}

template <class Record>
void ConvertValues(const nlohmann::json& data, Record& record) {
    ForEachField<Record>([&](const auto& field) { field.Convert(data, record); });
}

template <class Record>
Record FromJson(const nlohmann::json& data) {
    Record record{};
    CheckKeys<Record>(data);
    WalkLists(data, record);
    ConvertValues(data, record);
    return record;
}

/// A value whose key must be present.
template <class Record, class T>
struct Required : FieldBase {
    const char* key;
    T Record::*member;

    Required(const char* key, T Record::*member) : key(key), member(member) {}
    void Check(const nlohmann::json& data) const { CheckField(data, key); }
    void Convert(const nlohmann::json& data, Record& record) const {
        WebSockets::GetChecked(data.at(key), key, record.*member);
    }
};

/// A value that takes `fallback` when its key is absent.
template <class Record, class T>
struct Optional : FieldBase {
    const char* key;
    T Record::*member;
    T fallback;

    Optional(const char* key, T Record::*member, T fallback)
        : key(key), member(member), fallback(std::move(fallback)) {}
    void Convert(const nlohmann::json& data, Record& record) const {
        if (!data.is_object()) {
            (void)data.value(key, fallback);  // the library's error for a body that is no object
        }
        const auto found = data.find(key);
        if (found == data.end()) {
            record.*member = fallback;
        } else {
            WebSockets::GetChecked(*found, key, record.*member);
        }
    }
};

/// A list walked element by element. Like a range-for over the JSON value: null gives no
/// element and a single value is one element. `optional` lists may be absent (no element).
template <class Record, class Element>
struct List : FieldBase {
    const char* key;
    std::vector<Element> Record::*member;
    bool optional;

    List(const char* key, std::vector<Element> Record::*member, bool optional)
        : key(key), member(member), optional(optional) {}
    void Check(const nlohmann::json& data) const {
        if (!optional) {
            CheckField(data, key);
        }
    }
    void Walk(const nlohmann::json& data, Record& record) const {
        const nlohmann::json& list = optional ? OrEmpty(data) : data.at(key);
        for (const auto& element : list) {
            (record.*member).push_back(WebSockets::GetChecked<Element>(element, key));
        }
    }

private:
    const nlohmann::json& OrEmpty(const nlohmann::json& data) const {
        static const nlohmann::json kEmpty = nlohmann::json::array();
        if (!data.is_object()) {
            (void)data.value(key, kEmpty);  // the library's error for a body that is no object
        }
        const auto found = data.find(key);
        return found == data.end() ? kEmpty : *found;
    }
};

/// A nested record: its keys are checked after the keys of the enclosing record.
template <class Record, class Inner>
struct Nested : FieldBase {
    const char* key;
    Inner Record::*member;

    Nested(const char* key, Inner Record::*member) : key(key), member(member) {}
    void Check(const nlohmann::json& data) const { CheckField(data, key); }
    void CheckInner(const nlohmann::json& data) const { CheckKeys<Inner>(data.at(key)); }
    void Walk(const nlohmann::json& data, Record& record) const {
        WalkLists(data.at(key), record.*member);
    }
    void Convert(const nlohmann::json& data, Record& record) const {
        ConvertValues(data.at(key), record.*member);
    }
};

/// A key that must be present but is not read.
struct Present : FieldBase {
    const char* key;

    explicit Present(const char* key) : key(key) {}
    void Check(const nlohmann::json& data) const { CheckField(data, key); }
};

/// A value with its own conversion, run with the other values; the conversion is told the key.
template <class Record, class T>
struct Converted : FieldBase {
    using Conversion = T (*)(const nlohmann::json& value, const std::string& key);
    const char* key;
    T Record::*member;
    Conversion convert;

    Converted(const char* key, T Record::*member, Conversion convert)
        : key(key), member(member), convert(convert) {}
    void Check(const nlohmann::json& data) const { CheckField(data, key); }
    void Convert(const nlohmann::json& data, Record& record) const {
        record.*member = convert(data.at(key), key);
    }
};

/// A value read by its own walk, run with the lists (before the other values). As an override
/// it stands in for the record fields it fills (see Filling), at the first of them.
template <class Record>
struct Walked : FieldBase {
    const char* key;
    void (*walk)(const nlohmann::json&, Record&);
    std::vector<const char*> fills;

    Walked(const char* key, void (*walk)(const nlohmann::json&, Record&)) : key(key), walk(walk) {}
    void Check(const nlohmann::json& data) const { CheckField(data, key); }
    void Walk(const nlohmann::json& data, Record& record) const { walk(data.at(key), record); }

    /// The record fields this walk fills, when they differ from its key.
    Walked Filling(std::initializer_list<const char*> fields) const {
        Walked copy = *this;
        copy.fills = fields;
        return copy;
    }
    bool Replaces(const char* field) const {
        return Named(fills.empty() ? key : fills.front(), field);
    }
    bool Covers(const char* field) const {
        for (const char* filled : fills) {
            if (Named(filled, field)) {
                return true;
            }
        }
        return Replaces(field);
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

template <class Record, class Element>
List<Record, Element> ListField(const char* key, std::vector<Element> Record::*member) {
    return {key, member, false};
}

template <class Record, class Element>
List<Record, Element> OptionalListField(const char* key, std::vector<Element> Record::*member) {
    return {key, member, true};
}

template <class Record, class Inner>
Nested<Record, Inner> NestedField(const char* key, Inner Record::*member) {
    return {key, member};
}

template <class Record, class T>
Converted<Record, T> ConvertedField(const char* key, T Record::*member,
                                    typename Converted<Record, T>::Conversion convert) {
    return {key, member, convert};
}

template <class Record>
Walked<Record> WalkedField(const char* key, void (*walk)(const nlohmann::json&, Record&)) {
    return {key, walk};
}

// The kind a record field takes unless overridden: a list of records is walked element by
// element, a record is nested, anything else is a required value.
template <class Record, class T>
auto DefaultKind(const RecordField<Record, T>& field) {
    if constexpr (IsRecordList<T>::value) {
        return ListField(field.key, field.member);
    } else if constexpr (IsRecord<T>::value) {
        return NestedField(field.key, field.member);
    } else {
        return Field(field.key, field.member);
    }
}

/// The reading of a record derived from its field list: each field in the record's order, by
/// its default kind, except the fields that an override replaces (an optional value, a value
/// with its own conversion, a walk). An override replaces the field of its key; a walk that
/// fills other fields replaces the first of them and covers the rest.
template <class Record, class... Overrides>
struct DerivedSchema {
    std::tuple<Overrides...> overrides;

    template <class Pass>
    void ForEach(Pass& pass) const {
        VisitFields<Record>([&](const auto& field) {
            bool covered = false;
            std::apply(
                [&](const auto&... kind) {
                    ((covered = covered || RunIfReplacing(kind, field.key, pass)), ...);
                },
                overrides);
            if (!covered) {
                pass(DefaultKind(field));
            }
        });
    }

private:
    template <class Kind, class Pass>
    static bool RunIfReplacing(const Kind& kind, const char* field, Pass& pass) {
        if constexpr (std::is_same_v<Kind, Walked<Record>>) {
            if (kind.Replaces(field)) {
                pass(kind);
            }
            return kind.Covers(field);
        } else {
            if (Named(kind.key, field)) {
                pass(kind);
                return true;
            }
            return false;
        }
    }
};

template <class Record, class... Overrides>
DerivedSchema<Record, Overrides...> Derived(Overrides... overrides) {
    return {std::make_tuple(std::move(overrides)...)};
}

/// The reading of a record whose every key may be absent: an absent key reads as the record's
/// default for the field.
template <class Record>
struct AllOptionalSchema {
    template <class Pass>
    void ForEach(Pass& pass) const {
        static const Record defaults{};
        VisitFields<Record>([&](const auto& field) {
            pass(OptionalField(field.key, field.member, defaults.*field.member));
        });
    }
};

template <class Record>
AllOptionalSchema<Record> AllOptional() {
    return {};
}

template <class Record>
struct Schema<Record, std::enable_if_t<IsRecord<Record>::value>> {
    static inline const auto fields = Derived<Record>();
};

/// The JSON object of a write, built from (key, value) pairs.
using Members = std::initializer_list<std::pair<const char*, nlohmann::json>>;
nlohmann::json Object(Members members);

}  // namespace Varkon::QUILApi::ResourceFrame

namespace Varkon::QUILApi {

// Found by the JSON library through argument-dependent lookup for every record with a Schema.
template <class Record, std::enable_if_t<ResourceFrame::HasSchema<Record>::value, int> = 0>
void from_json(const nlohmann::json& data, Record& record) {
    record = ResourceFrame::FromJson<Record>(data);
}

}  // namespace Varkon::QUILApi

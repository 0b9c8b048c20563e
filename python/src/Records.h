// Records as Python classes, derived from each record's field list (kFields): one attribute per
// field under the member's name, keyword construction, equality, repr, to_dict and from_dict.
//
// Field values cross as follows: numbers, texts and flags as Python values; lists of samples
// (int32, uint16 and uint8 vectors: profile points, stream channels, pixels) as numpy arrays of
// that dtype, copied whole; other lists as Python lists; nested records as records (a dict is
// taken where a record is expected).
#pragma once

#include "Common.h"
#include "Enums.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace QuilPython {

template <class T>
struct IsSampleVector : std::false_type {};
template <>
struct IsSampleVector<std::vector<int32_t>> : std::true_type {};
template <>
struct IsSampleVector<std::vector<uint16_t>> : std::true_type {};
template <>
struct IsSampleVector<std::vector<uint8_t>> : std::true_type {};

/// A vector of samples as a new 1-D numpy array of its element type (one copy, no element loop).
template <class Element>
py::array_t<Element> ToArray(const std::vector<Element>& samples) {
    py::array_t<Element> array(static_cast<py::ssize_t>(samples.size()));
    if (!samples.empty()) {
        std::memcpy(array.mutable_data(), samples.data(), samples.size() * sizeof(Element));
    }
    return array;
}

/// A vector handed over to numpy without a copy: the array's capsule owns the moved vector.
template <class Element>
py::array_t<Element> MoveToArray(std::vector<Element>&& samples) {
    auto* owned = new std::vector<Element>(std::move(samples));
    py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<Element>*>(p); });
    return py::array_t<Element>(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
}

/// Samples from a numpy array of the same dtype (one copy), or from any sequence of ints, each
/// checked against the element type's range.
template <class Element>
std::vector<Element> FromSamples(py::handle value) {
    if (py::isinstance<py::array_t<Element, 0>>(value)) {
        const auto array = py::reinterpret_borrow<py::array>(value);
        if (array.dtype().is(py::dtype::of<Element>())) {
            const auto flat = py::array_t<Element, py::array::c_style>::ensure(array);
            std::vector<Element> samples(static_cast<std::size_t>(flat.size()));
            if (!samples.empty()) {
                std::memcpy(samples.data(), flat.data(), samples.size() * sizeof(Element));
            }
            return samples;
        }
    }
    return value.cast<std::vector<Element>>();
}

/// How the type stubs name a field of type T: "int", "list[str]", "NDArray[np.uint16]", or the
/// Python class of a nested record or enum (bound before the records that hold it).
template <class T>
std::string StubType() {
    if constexpr (IsSampleVector<T>::value) {
        return "NDArray[np." +
               py::dtype::of<typename T::value_type>().attr("name").template cast<std::string>() +
               "]";
    } else if constexpr (IsRecord<T>::value) {
        return py::type::of<T>().attr("__name__").template cast<std::string>();
    } else if constexpr (std::is_enum_v<T>) {
        return py::handle(PythonEnum<T>::type).attr("__name__").template cast<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        return "bool";
    } else if constexpr (std::is_integral_v<T>) {
        return "int";
    } else if constexpr (std::is_floating_point_v<T>) {
        return "float";
    } else if constexpr (std::is_same_v<T, std::string>) {
        return "str";
    } else {
        return "list[" + StubType<typename T::value_type>() + "]";
    }
}

template <class Record>
py::dict ToDict(const Record& record);
template <class Record>
Record FromMapping(py::handle mapping, bool allKeys, const char* what);

/// A field's value as Python sees it.
template <class T>
py::object ToPython(const T& value) {
    if constexpr (IsRecord<T>::value) {
        return py::cast(value);
    } else if constexpr (IsSampleVector<T>::value) {
        return ToArray(value);
    } else {
        return py::cast(value);
    }
}

/// A field's value for to_dict: nested records become dicts too.
template <class T>
py::object ToPlain(const T& value) {
    if constexpr (IsRecord<T>::value) {
        return ToDict(value);
    } else if constexpr (IsRecordList<T>::value) {
        py::list list;
        for (const auto& element : value) {
            list.append(ToDict(element));
        }
        return std::move(list);
    } else {
        return ToPython(value);
    }
}

/// A Python value for a field of type T; TypeError names the field when it does not fit.
template <class T>
T FromPython(py::handle value, const std::string& name) {
    try {
        if constexpr (IsRecord<T>::value) {
            if (py::isinstance<py::dict>(value)) {
                return FromMapping<T>(value, false, name.c_str());
            }
            return value.cast<T>();
        } else if constexpr (IsRecordList<T>::value) {
            using Element = typename T::value_type;
            if (py::isinstance<py::str>(value) || !py::isinstance<py::sequence>(value)) {
                throw py::cast_error();
            }
            T list;
            for (py::handle element : value) {
                list.push_back(FromPython<Element>(element, name + "[]"));
            }
            return list;
        } else if constexpr (IsSampleVector<T>::value) {
            return FromSamples<typename T::value_type>(value);
        } else {
            if constexpr (std::is_same_v<T, std::string>) {
                if (!py::isinstance<py::str>(value)) {
                    throw py::cast_error();
                }
            }
            return value.cast<T>();
        }
    } catch (const py::cast_error&) {
        throw py::type_error(name + ": expected " + py::detail::make_caster<T>::name.text +
                             ", got " + Py_TYPE(value.ptr())->tp_name);
    }
}

template <class Record>
py::dict ToDict(const Record& record) {
    py::dict dict;
    VisitFields<Record>(
        [&](const auto& field) { dict[field.key] = ToPlain(record.*(field.member)); });
    return dict;
}

/// A record from a mapping of field names. `allKeys`: every field must be given. A key that is
/// not a field is refused, as Python refuses an unknown keyword.
template <class Record>
Record FromMapping(py::handle mapping, bool allKeys, const char* what) {
    Record record;
    const auto dict = py::reinterpret_borrow<py::dict>(mapping);
    std::size_t used = 0;
    VisitFields<Record>([&](const auto& field) {
        using T = typename std::decay_t<decltype(field)>::Type;
        if (dict.contains(field.key)) {
            record.*(field.member) =
                FromPython<T>(dict[field.key], std::string(what) + "." + field.key);
            ++used;
        } else if (allKeys) {
            throw std::out_of_range(std::string("Field ") + field.key + " missing in " + what +
                                    ".");
        }
    });
    if (used != dict.size()) {
        for (auto item : dict) {
            bool known = false;
            const std::string key = py::str(item.first);
            VisitFields<Record>([&](const auto& field) { known = known || key == field.key; });
            if (!known) {
                throw py::type_error(std::string(what) + " has no field '" + key + "'");
            }
        }
    }
    return record;
}

/// Binds `Record` as the Python class `name`, everything derived from its field list.
template <class Record>
py::class_<Record> BindRecord(py::module_& m, const char* name) {
    py::class_<Record> cls(m, name);
    const std::string className = name;
    cls.def(py::init([className](const py::kwargs& fields) {
                return FromMapping<Record>(fields, false, className.c_str());
            }),
            ("A " + className + "; fields not given keep their defaults.").c_str());
    py::list keys;
    py::list types;
    VisitFields<Record>([&](const auto& field) {
        using T = typename std::decay_t<decltype(field)>::Type;
        const auto member = field.member;
        const std::string key = field.key;
        keys.append(key);
        types.append(StubType<T>());
        cls.def_property(
            field.key, [member](const Record& record) { return ToPython(record.*member); },
            [member, label = className + "." + key](Record& record, py::handle value) {
                record.*member = FromPython<T>(value, label);
            });
    });
    cls.attr("_fields") = py::tuple(keys);
    cls.attr("_field_types") = py::tuple(types);  // for the generated type stubs
    cls.def("__eq__", [](const Record& a, py::object b) -> py::object {
        if (!py::isinstance<Record>(b)) {
            return py::reinterpret_borrow<py::object>(Py_NotImplemented);
        }
        return py::bool_(a == b.cast<const Record&>());
    });
    cls.attr("__hash__") = py::none();
    cls.def("__repr__", [className](const Record& record) {
        std::string text = className + "(";
        const char* separator = "";
        VisitFields<Record>([&](const auto& field) {
            text += separator;
            text += field.key;
            text += "=";
            text += py::repr(ToPython(record.*(field.member))).template cast<std::string>();
            separator = ", ";
        });
        return text + ")";
    });
    cls.def("to_dict", &ToDict<Record>,
            "The fields as a dict; nested records become dicts too, samples stay numpy arrays.");
    cls.def_static(
        "from_dict",
        [className](const py::dict& dict) {
            return FromMapping<Record>(dict, true, className.c_str());
        },
        py::arg("fields"), "A record from a dict with every field (as to_dict gives).");
    cls.def("__copy__", [](const Record& record) { return Record(record); });
    cls.def("__deepcopy__", [](const Record& record, py::dict) { return Record(record); });
    cls.def(py::pickle([](const Record& record) { return ToDict(record); },
                       [className](const py::dict& dict) {
                           return FromMapping<Record>(dict, true, className.c_str());
                       }));
    return cls;
}

}  // namespace QuilPython

// The library's enumerations as Python IntEnum classes. Each C++ enumeration is converted to
// and from the Python class that BindEnum created for it; ints that name a member are taken too.
#pragma once

#include "Common.h"

#include <initializer_list>
#include <utility>

namespace QuilPython {

/// The Python class of enumeration E; set once by BindEnum, kept for the interpreter's life (a
/// reference that is never released, so nothing is torn down after the interpreter).
template <class E>
struct PythonEnum {
    static inline PyObject* type = nullptr;
};

/// Creates the IntEnum `name` in `m` with the given members, for the C++ enumeration E.
template <class E>
void BindEnum(py::module_& m, const char* name,
              std::initializer_list<std::pair<const char*, E>> members, const char* doc) {
    py::list items;
    for (const auto& [key, value] : members) {
        items.append(py::make_tuple(key, static_cast<long long>(value)));
    }
    py::object cls = py::module_::import("enum").attr("IntEnum")(name, items);
    cls.attr("__module__") = m.attr("__name__");
    cls.attr("__doc__") = doc;
    m.attr(name) = cls;
    PythonEnum<E>::type = cls.inc_ref().ptr();
}

}  // namespace QuilPython

namespace pybind11::detail {

template <class E>
struct QuilEnumCaster {
    PYBIND11_TYPE_CASTER(E, const_name("IntEnum"));

    bool load(handle source, bool) {
        if (!source || PyBool_Check(source.ptr()) || !PyLong_Check(source.ptr())) {
            return false;
        }
        // The class's own lookup: ValueError "<n> is not a valid <Name>" for a non-member.
        object member = reinterpret_borrow<object>(QuilPython::PythonEnum<E>::type)(source);
        value = static_cast<E>(member.cast<long long>());
        return true;
    }

    static handle cast(E source, return_value_policy, handle) {
        return reinterpret_borrow<object>(QuilPython::PythonEnum<E>::type)(
                   static_cast<long long>(source))
            .release();
    }
};

template <>
class type_caster<Varkon::QUILApi::UdpStreaming::PacketErrorType>
    : public QuilEnumCaster<Varkon::QUILApi::UdpStreaming::PacketErrorType> {};
template <>
class type_caster<Varkon::QUILApi::UdpStreaming::QueueOverflowPolicy>
    : public QuilEnumCaster<Varkon::QUILApi::UdpStreaming::QueueOverflowPolicy> {};

}  // namespace pybind11::detail

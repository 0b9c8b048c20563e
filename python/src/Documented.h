// Classes whose methods carry the docstrings of the package's stubs (quil/__init__.pyi): the
// stubs are the one place the Python API is described, and help() in an interpreter or a
// notebook shows the same words as an editor reading the stubs.
#pragma once

#include "Common.h"
#include "StubDocstrings.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace QuilPython {

/// The stubs' docstring of "function", "Class" or "Class.method"; empty when they give none.
inline const char* StubDocstring(std::string_view name) {
    const auto* end = std::end(kStubDocstrings);
    const auto* found = std::lower_bound(
        std::begin(kStubDocstrings), end, name,
        [](const auto& entry, std::string_view wanted) { return entry.first < wanted; });
    // The table's texts are null-terminated literals.
    return found != end && found->first == name ? found->second.data() : "";
}

/// A py::class_ whose methods, static methods and constructors carry the stubs' docstrings;
/// everything else is py::class_'s, and each definition returns the Documented class, so that
/// definitions chain.
template <class T, class... Options>
class Documented : public py::class_<T, Options...> {
public:
    using Base = py::class_<T, Options...>;

    Documented(py::handle scope, const char* name)
        : Base(scope, name, StubDocstring(name)), className(name) {}

    template <class Func, class... Extra>
    Documented& def(const char* name, Func&& f, const Extra&... extra) {
        Base::def(name, std::forward<Func>(f), extra..., Doc(name));
        return *this;
    }
    /// A constructor (py::init).
    template <class Init, class... Extra,
              std::enable_if_t<!std::is_convertible_v<Init, const char*>, int> = 0>
    Documented& def(Init&& init, const Extra&... extra) {
        Base::def(std::forward<Init>(init), extra..., Doc("__init__"));
        return *this;
    }
    template <class Func, class... Extra>
    Documented& def_static(const char* name, Func&& f, const Extra&... extra) {
        Base::def_static(name, std::forward<Func>(f), extra..., Doc(name));
        return *this;
    }
    template <class... Args>
    Documented& def_readonly(Args&&... args) {
        Base::def_readonly(std::forward<Args>(args)...);
        return *this;
    }
    template <class... Args>
    Documented& def_property_readonly(Args&&... args) {
        Base::def_property_readonly(std::forward<Args>(args)...);
        return *this;
    }

private:
    py::doc Doc(const char* member) const {
        return py::doc(StubDocstring(className + "." + member));
    }

    std::string className;
};

}  // namespace QuilPython

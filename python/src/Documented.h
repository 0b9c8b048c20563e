// Classes whose methods carry the docstrings of the package's stubs (quil/__init__.pyi): the
// stubs are the one place the Python API is described, and help() in an interpreter or a
// notebook shows the same words as an editor reading the stubs.
#pragma once

#include "Common.h"
#include "StubDocstrings.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

namespace QuilPython {

/// The stubs' docstring of "Class" or "Class.method"; empty when they give none.
inline const char* StubDocstring(std::string_view name) {
    const auto* end = std::end(kStubDocstrings);
    const auto* found = std::lower_bound(
        std::begin(kStubDocstrings), end, name,
        [](const auto& entry, std::string_view wanted) { return entry.first < wanted; });
    // The table's texts are null-terminated literals.
    return found != end && found->first == name ? found->second.data() : "";
}

/// A py::class_ whose def(name, ...) adds the stubs' docstring of the method; everything else
/// is py::class_'s. Define the methods on it directly (not in a chain after another kind of
/// definition, which returns the plain py::class_).
template <class T, class... Options>
class Documented : public py::class_<T, Options...> {
public:
    using Base = py::class_<T, Options...>;
    using Base::def;

    Documented(py::handle scope, const char* name)
        : Base(scope, name, StubDocstring(name)), className(name) {}

    template <class Func, class... Extra>
    Documented& def(const char* name, Func&& f, const Extra&... extra) {
        Base::def(name, std::forward<Func>(f), extra...,
                  py::doc(StubDocstring(className + "." + name)));
        return *this;
    }

private:
    std::string className;
};

}  // namespace QuilPython

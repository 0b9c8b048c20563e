// What every source of the Python module includes first: pybind11 with numpy, the library's
// header, and integer conversions that refuse instead of wrapping.
//
// pybind11's own integer conversion turns an out-of-range value into a failed overload match,
// reported as a TypeError that never says "out of range"; floats and bools would be taken as
// integers in some paths. The casters below take only ints (and objects with __index__, such as
// numpy's integer scalars), and raise OverflowError for a value outside the C++ type's range.
// They must be seen before any conversion of these types is instantiated, in every source file
// of the module, hence this header first.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <quil/Quil.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>

namespace pybind11::detail {

template <class T>
struct CheckedIntegerCaster {
    PYBIND11_TYPE_CASTER(T, const_name("int"));

    bool load(handle source, bool /*convert*/) {
        if (!source || PyBool_Check(source.ptr()) || PyFloat_Check(source.ptr())) {
            return false;
        }
        object number = reinterpret_steal<object>(PyNumber_Index(source.ptr()));
        if (!number) {
            PyErr_Clear();
            return false;
        }
        int overflow = 0;
        const long long signedValue = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
        if (signedValue == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        if (overflow < 0 || (overflow == 0 && !Fits(signedValue))) {
            OutOfRange(number);
        }
        if (overflow > 0) {
            if (std::is_signed_v<T>) {
                OutOfRange(number);
            }
            const unsigned long long unsignedValue = PyLong_AsUnsignedLongLong(number.ptr());
            if (PyErr_Occurred() ||
                unsignedValue > static_cast<unsigned long long>(std::numeric_limits<T>::max())) {
                PyErr_Clear();
                OutOfRange(number);
            }
            value = static_cast<T>(unsignedValue);
            return true;
        }
        value = static_cast<T>(signedValue);
        return true;
    }

    static handle cast(T source, return_value_policy, handle) {
        if constexpr (std::is_signed_v<T>) {
            return PyLong_FromLongLong(static_cast<long long>(source));
        } else {
            return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(source));
        }
    }

private:
    static bool Fits(long long v) {
        if constexpr (std::is_signed_v<T>) {
            return v >= static_cast<long long>(std::numeric_limits<T>::min()) &&
                   v <= static_cast<long long>(std::numeric_limits<T>::max());
        } else {
            return v >= 0 && static_cast<unsigned long long>(v) <=
                                 static_cast<unsigned long long>(std::numeric_limits<T>::max());
        }
    }

    [[noreturn]] static void OutOfRange(const object& number) {
        const std::string text = str(number).cast<std::string>() + " is out of range (" +
                                 std::to_string(std::numeric_limits<T>::min()) + " to " +
                                 std::to_string(std::numeric_limits<T>::max()) + ")";
        PyErr_SetString(PyExc_OverflowError, text.c_str());
        throw error_already_set();
    }
};

template <>
class type_caster<unsigned char> : public CheckedIntegerCaster<unsigned char> {};
template <>
class type_caster<unsigned short> : public CheckedIntegerCaster<unsigned short> {};
template <>
class type_caster<unsigned int> : public CheckedIntegerCaster<unsigned int> {};
template <>
class type_caster<unsigned long> : public CheckedIntegerCaster<unsigned long> {};
template <>
class type_caster<int> : public CheckedIntegerCaster<int> {};
template <>
class type_caster<long> : public CheckedIntegerCaster<long> {};

}  // namespace pybind11::detail

namespace QuilPython {

namespace py = pybind11;
using namespace Varkon::QUILApi;
using namespace Varkon::QUILApi::UdpStreaming;

/// Releases the GIL for its lifetime. A thread of the application still waiting for the sensor
/// when the interpreter shuts down stays parked until the process ends. One that was already
/// waiting for the GIL when the shutdown began is ended by the interpreter, which unwinds its
/// stack: that unwinding must be let through this destructor (noexcept would end the process).
class GilReleased {
public:
    GilReleased() : state(PyEval_SaveThread()) {}
    ~GilReleased() noexcept(false) {
        while (Finalizing()) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
        PyEval_RestoreThread(state);
    }
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;

private:
    static bool Finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
        return Py_IsFinalizing() != 0;
#else
        return _Py_IsFinalizing() != 0;
#endif
    }

    PyThreadState* state;
};

/// Runs `call` without the GIL, so that other Python threads go on while it blocks. Arguments
/// are converted before and results after, with the GIL held.
template <class Call>
auto WithoutGil(Call&& call) {
    GilReleased released;
    return call();
}

/// Waits up to `seconds` by calling `slice(limit)` with the GIL released for at most 100 ms at
/// a time, and checks for signals between the slices, so that Ctrl-C raises KeyboardInterrupt
/// within a slice. `slice` returns whether the wait is over. As in the library, zero or less
/// looks once without waiting; infinity waits without limit; NaN raises ValueError.
template <class Slice>
bool WaitInSlices(double seconds, Slice&& slice) {
    using namespace std::chrono;
    constexpr milliseconds kSlice{100};
    if (std::isnan(seconds)) {
        throw py::value_error("timeout must be a number of seconds, not NaN");
    }
    const bool limited = seconds != std::numeric_limits<double>::infinity();
    const auto deadline =
        steady_clock::now() +
        duration_cast<steady_clock::duration>(duration<double>(std::clamp(seconds, 0.0, 1e9)));
    for (;;) {
        milliseconds limit = kSlice;
        if (limited) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
            limit = std::max(milliseconds(0), std::min(kSlice, left));
        }
        bool done = false;
        {
            GilReleased released;
            done = slice(limit);
        }
        if (done) {
            return true;
        }
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
        if (limited && steady_clock::now() >= deadline) {
            return false;
        }
    }
}

// The parts of the module, each in its own file.
void BindErrors(py::module_& m);
void BindRecords(py::module_& m);
void BindClient(py::module_& m);
void BindStream(py::module_& m);
void BindSim(py::module_& m);

}  // namespace QuilPython

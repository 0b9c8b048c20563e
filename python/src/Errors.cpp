// C++ exceptions become the package's exception classes (quil/errors.py), with the library's
// text unchanged.
#include "Client.h"
#include "Common.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace QuilPython {
namespace {

// std::runtime_error carries connection problems, time-outs and file failures alike; the text
// tells them apart. Each prefix is the start of a text the library throws.
struct RuntimeErrorKind {
    const char* prefix;
    const char* pythonClass;
};
constexpr RuntimeErrorKind kRuntimeErrorKinds[] = {
    {"No matching response found", "TimeoutError"},
    {"Could not record to ", "FileError"},
    {"Could not open recording ", "FileError"},
    {"Could not write ", "FileError"},
    {"Recording ", "FileError"},
    {"SaveImage: ", "FileError"},
};

void Raise(const char* pythonClass, const char* text) {
    py::object errors = py::module_::import("quil.errors");
    PyErr_SetObject(errors.attr(pythonClass).ptr(), py::str(text).ptr());
}

const char* RuntimeErrorClass(const std::string& text) {
    for (const auto& kind : kRuntimeErrorKinds) {
        if (text.rfind(kind.prefix, 0) == 0) {
            return kind.pythonClass;
        }
    }
    return "ConnectionError";
}

}  // namespace

void BindErrors(py::module_&) {
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            std::rethrow_exception(thrown);
        } catch (const py::builtin_exception&) {
            throw;  // pybind11's own (StopIteration, TypeError, ...): its translator handles them
        } catch (const py::error_already_set&) {
            throw;
        } catch (const nlohmann::json::exception& e) {
            Raise("ReplyError", e.what());
        } catch (const std::domain_error& e) {
            Raise("SensorError", e.what());
        } catch (const std::invalid_argument& e) {
            Raise("InvalidArgumentError", e.what());
        } catch (const std::out_of_range& e) {
            Raise("MissingError", e.what());
        } catch (const std::logic_error& e) {
            Raise("StateError", e.what());
        } catch (const ClosedDuringRequest& e) {
            Raise("ConnectionClosedError", e.what());
        } catch (const std::runtime_error& e) {
            Raise(RuntimeErrorClass(e.what()), e.what());
        }
    });
}

}  // namespace QuilPython

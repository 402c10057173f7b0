#include "python/diagnostics.h"

#include <atomic>

#include <pybind11/eval.h>

#include <pelklib.h>

#include "services/pelk_log.h"

namespace py = pybind11;

namespace {

thread_local std::string t_last;

// The logger's warning method, kept for the life of the process.
PyObject* g_warning = nullptr;
// Set at interpreter exit: texts of objects freed after it are kept for
// exceptions only.
std::atomic<bool> g_exiting{false};

// A text may come on any thread, with or without the GIL.
extern "C" void ToLogger(const char* text, void*) {
    t_last = PelkLogLine(text);
    if (g_exiting.load() || g_warning == nullptr || !Py_IsInitialized()) {
        return;
    }
    py::gil_scoped_acquire acquired;
    PyObject* result = PyObject_CallFunction(g_warning, "ss", "%s", t_last.c_str());
    if (result == nullptr) {
        PyErr_WriteUnraisable(g_warning);
    }
    Py_XDECREF(result);
}

const char* const kLogger = R"(
import logging as _logging

_logger = _logging.getLogger("pelk")
_logger.addHandler(_logging.NullHandler())
del _logging
)";

}  // namespace

void ForgetDiagnostic() {
    t_last.clear();
}

std::string TakeDiagnostic() {
    std::string last;
    last.swap(t_last);
    return last;
}

void DefineDiagnostics(py::module_& module) {
    py::exec(kLogger, module.attr("__dict__"));
    g_warning = py::object(module.attr("_logger").attr("warning")).release().ptr();
    py::module_::import("atexit").attr("register")(py::cpp_function([] { g_exiting.store(true); }));
    pelkSetLogCallback(ToLogger, nullptr);
}

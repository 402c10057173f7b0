#include "python/errors.h"

#include <pybind11/eval.h>

#include <pelklib.h>

#include "python/diagnostics.h"
#include "services/statuses.h"

namespace py = pybind11;

namespace {

// The classes, made once at import and kept for the life of the process.
PyObject* g_error = nullptr;
PyObject* g_timeout = nullptr;
PyObject* g_notOpen = nullptr;
PyObject* g_noSuchBoard = nullptr;

PyObject* g_osErrorClass = nullptr;

// An operating-system error number gets the class that is also the OSError
// of that number (FileNotFoundError for ENOENT).
py::object ClassFor(int status) {
    PyObject* chosen = g_error;
    switch (status) {
        case PKERR_TIMEOUT: chosen = g_timeout; break;
        case PKERR_NOT_OPEN: chosen = g_notOpen; break;
        case PKSTATUS_NO_SUCH_BOARD:
        case OAMSHADOW_ERR_NOT_FOUND: chosen = g_noSuchBoard; break;
        default:
            if (status > 0 && FindNamedStatus(status) == nullptr) {
                return py::reinterpret_borrow<py::object>(g_osErrorClass)(status);
            }
    }
    return py::reinterpret_borrow<py::object>(chosen);
}

const char* const kClasses = R"(
class Error(Exception):
    """A pelklib operation failed.

    status: the library's status code (negative PKERR_/PKSTATUS_ codes,
    positive system error numbers, OAMSHADOW_ERR_ codes of the table);
    name: its name, such as "PKERR_TIMEOUT" or "ENOENT"; text: what it means.
    """

    def __init__(self, status, name, text):
        super().__init__(status, name, text)
        self.status = status
        self.name = name
        self.text = text

    def __str__(self):
        return f"{self.name} ({self.status}): {self.text}"


class Timeout(Error):
    """No message or board answer came within the time-out (PKERR_TIMEOUT)."""


class NotOpen(Error):
    """The board object is closed, or its opening failed (PKERR_NOT_OPEN)."""


class NoSuchBoard(Error):
    """The board-identity table has no such board, or its driver board ID is
    not a decimal number (PKSTATUS_NO_SUCH_BOARD, OAMSHADOW_ERR_NOT_FOUND)."""


import builtins as _builtins

_os_error_classes = {}


def _os_error_class(number):
    """The class of a status that is the operating-system error number: a
    pelk.Error that is also the OSError Python raises for that number
    (FileNotFoundError for ENOENT), with errno set to the number."""
    base = type(_builtins.OSError(number, ""))
    made = _os_error_classes.get(base)
    if made is None:
        def __new__(cls, status, name, text):
            return base.__new__(cls, status, text)

        def __init__(self, status, name, text):
            base.__init__(self, status, text)
            self.status = status
            self.name = name
            self.text = text

        made = type(base.__name__, (Error, base), {
            "__new__": __new__, "__init__": __init__, "__str__": Error.__str__,
            "__module__": __name__,
            "__doc__": "A pelklib status that is the system's " + base.__name__ +
                       ": a pelk.Error with errno set."})
        _os_error_classes[base] = made
    return made
)";

}  // namespace

void RaiseStatus(int status, const std::string& text) {
    const std::string diagnostic = TakeDiagnostic();
    const std::string said = !text.empty()         ? text
                             : !diagnostic.empty() ? diagnostic
                                                   : StatusMeaning(status);
    const py::object chosen = ClassFor(status);
    const py::object error = chosen(status, StatusName(status), said);
    PyErr_SetObject(chosen.ptr(), error.ptr());
    throw py::error_already_set();
}

void DefineErrors(py::module_& module) {
    py::exec(kClasses, module.attr("__dict__"));
    g_error = py::object(module.attr("Error")).release().ptr();
    g_timeout = py::object(module.attr("Timeout")).release().ptr();
    g_notOpen = py::object(module.attr("NotOpen")).release().ptr();
    g_noSuchBoard = py::object(module.attr("NoSuchBoard")).release().ptr();
    g_osErrorClass = py::object(module.attr("_os_error_class")).release().ptr();
    for (size_t i = 1; i < kNamedStatusCount; ++i) {  // all but "OK"
        module.attr(kNamedStatuses[i].name) = kNamedStatuses[i].code;
    }
    module.def("status_name", &StatusName, py::arg("status"),
               "The name of a status code: \"PKERR_TIMEOUT\", \"ENOENT\", "
               "\"OAMSHADOW_ERR_NOT_FOUND\"; \"OK\" for 0, \"unknown\" for a code the library "
               "does not return.");
}

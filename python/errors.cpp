#include "python/errors.h"

#include <pybind11/eval.h>

#include <pelklib.h>

#include "services/statuses.h"

namespace py = pybind11;

namespace {

// The classes, made once at import and kept for the life of the process.
PyObject* g_error = nullptr;
PyObject* g_timeout = nullptr;
PyObject* g_notOpen = nullptr;
PyObject* g_noSuchBoard = nullptr;

PyObject* ClassFor(int status) {
    switch (status) {
        case PKERR_TIMEOUT: return g_timeout;
        case PKERR_NOT_OPEN: return g_notOpen;
        case PKSTATUS_NO_SUCH_BOARD:
        case OAMSHADOW_ERR_NOT_FOUND: return g_noSuchBoard;
    }
    return g_error;
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
)";

}  // namespace

void RaiseStatus(int status, const std::string& text) {
    const std::string meaning = text.empty() ? StatusMeaning(status) : text;
    py::object error =
        py::reinterpret_borrow<py::object>(ClassFor(status))(status, StatusName(status), meaning);
    PyErr_SetObject(ClassFor(status), error.ptr());
    throw py::error_already_set();
}

void DefineErrors(py::module_& module) {
    py::exec(kClasses, module.attr("__dict__"));
    g_error = py::object(module.attr("Error")).release().ptr();
    g_timeout = py::object(module.attr("Timeout")).release().ptr();
    g_notOpen = py::object(module.attr("NotOpen")).release().ptr();
    g_noSuchBoard = py::object(module.attr("NoSuchBoard")).release().ptr();
    for (size_t i = 1; i < kNamedStatusCount; ++i) {  // all but "OK"
        module.attr(kNamedStatuses[i].name) = kNamedStatuses[i].code;
    }
    module.def("status_name", &StatusName, py::arg("status"),
               "The name of a status code: \"PKERR_TIMEOUT\", \"ENOENT\", "
               "\"OAMSHADOW_ERR_NOT_FOUND\"; \"OK\" for 0, \"unknown\" for a code the library "
               "does not return.");
}

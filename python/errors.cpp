#include "python/errors.h"

#include <cstring>

#include <pybind11/eval.h>

#include <pelklib.h>

namespace py = pybind11;

namespace {

struct NamedStatus {
    int code;
    const char* name;
    const char* meaning;
};

const NamedStatus kStatuses[] = {
    {PKERR_UNKNOWN, "PKERR_UNKNOWN", "a driver request failed, or an unspecified failure"},
    {PKERR_TIMEOUT, "PKERR_TIMEOUT", "no message or board answer within the time-out"},
    {PKERR_NO_MESSAGE, "PKERR_NO_MESSAGE", "no message bytes"},
    {PKERR_BAD_MESSAGE, "PKERR_BAD_MESSAGE", "a malformed message, or the stream is out of step"},
    {PKERR_WRONG_BUFSIZE, "PKERR_WRONG_BUFSIZE", "a buffer of the wrong size"},
    {PKERR_BUFCOUNT, "PKERR_BUFCOUNT", "more than 4 data buffers"},
    {PKERR_NO_MEMORY, "PKERR_NO_MEMORY", "out of memory"},
    {PKERR_SEQUENCE_ERROR, "PKERR_SEQUENCE_ERROR", "operation out of sequence"},
    {PKERR_ABORTED, "PKERR_ABORTED", "aborted"},
    {PKERR_DATA_LOST, "PKERR_DATA_LOST", "the buffer was too small; the rest was lost"},
    {PKERR_UNEXPECTED_COMPLETION, "PKERR_UNEXPECTED_COMPLETION", "unexpected completion"},
    {PKERR_NOT_OPEN, "PKERR_NOT_OPEN", "not open, or the emulator handshake failed"},
    {PKSTATUS_HEADER_TOO_LONG, "PKSTATUS_HEADER_TOO_LONG",
     "the header does not fit the send buffer"},
    {PKSTATUS_OAM_NOT_ATTACHED, "PKSTATUS_OAM_NOT_ATTACHED",
     "the board-identity table is not attached"},
    {PKSTATUS_UNKNOWN_DRIVER, "PKSTATUS_UNKNOWN_DRIVER",
     "the table names a driver other than zb5t, qm, zbhost"},
    {PKSTATUS_NO_SUCH_BOARD, "PKSTATUS_NO_SUCH_BOARD",
     "no such board, or its driver board ID is not a decimal number"},
    {PKSTATUS_NOT_PROVIDED, "PKSTATUS_NOT_PROVIDED",
     "the emulator backend does not provide this operation"},
    {PKSTATUS_INVALID_HANDLE, "PKSTATUS_INVALID_HANDLE",
     "invalid pipe descriptor or semaphore identifier"},
    {OAMSHADOW_ERR_UNAVAILABLE, "OAMSHADOW_ERR_UNAVAILABLE",
     "no board-identity table, or a text too long for its buffer"},
    {OAMSHADOW_ERR_NOT_FOUND, "OAMSHADOW_ERR_NOT_FOUND", "not found in the board-identity table"},
};

const NamedStatus* FindStatus(int status) {
    for (const NamedStatus& known : kStatuses) {
        if (known.code == status) {
            return &known;
        }
    }
    return nullptr;
}

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

std::string StatusName(int status) {
    if (status == 0) {
        return "OK";
    }
    if (const NamedStatus* known = FindStatus(status)) {
        return known->name;
    }
    if (status > 0) {
        const char* name = strerrorname_np(status);
        return name ? name : "errno " + std::to_string(status);
    }
    return "unknown";
}

void RaiseStatus(int status, const std::string& text) {
    std::string meaning = text;
    if (meaning.empty()) {
        const NamedStatus* known = FindStatus(status);
        meaning = known ? known->meaning
                        : status > 0 ? std::strerror(status) : "not a status of this library";
    }
    py::object error = py::reinterpret_borrow<py::object>(ClassFor(status))(
        status, StatusName(status), meaning);
    PyErr_SetObject(ClassFor(status), error.ptr());
    throw py::error_already_set();
}

void DefineErrors(py::module_& module) {
    py::exec(kClasses, module.attr("__dict__"));
    g_error = py::object(module.attr("Error")).release().ptr();
    g_timeout = py::object(module.attr("Timeout")).release().ptr();
    g_notOpen = py::object(module.attr("NotOpen")).release().ptr();
    g_noSuchBoard = py::object(module.attr("NoSuchBoard")).release().ptr();
    for (const NamedStatus& known : kStatuses) {
        module.attr(known.name) = known.code;
    }
    module.def("status_name", &StatusName, py::arg("status"),
               "The name of a status code: \"PKERR_TIMEOUT\", \"ENOENT\", "
               "\"OAMSHADOW_ERR_NOT_FOUND\"; \"OK\" for 0, \"unknown\" for a code the library "
               "does not return.");
}

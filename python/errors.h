// Statuses as Python exceptions: pelk.Error and the subclasses scripts
// catch, raised with the status's name and a short explanation.
#ifndef PELK_PYTHON_ERRORS_H
#define PELK_PYTHON_ERRORS_H

#include <string>

#include <pybind11/pybind11.h>

// Raises the pelk.Error subclass for status (for an operating-system error
// number one that is also its OSError). The text is text when not empty,
// else the library's diagnostic of the failed call, else the status's
// meaning.
[[noreturn]] void RaiseStatus(int status, const std::string& text = std::string());

inline void Check(int status) {
    if (status != 0) {
        RaiseStatus(status);
    }
}

// Adds Error, Timeout, NotOpen, NoSuchBoard, status_name and a constant per
// named status to the module.
void DefineErrors(pybind11::module_& module);

#endif

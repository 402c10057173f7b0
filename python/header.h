// pelk.PelkorHeader: the protocol message header as a Python object.
#ifndef PELK_PYTHON_HEADER_H
#define PELK_PYTHON_HEADER_H

#include <pybind11/pybind11.h>

#include <pelklib.h>

// The record itself; Python sees its words and a list of parameters.
struct PelkorHeader {
    _PELKOR_MSG_HEADER record{};
};

void DefinePelkorHeader(pybind11::module_& module);

#endif

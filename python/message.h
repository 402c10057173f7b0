// pelk.Message: one received message with its data buffers. A plain Python
// class with slots, so scripts read its fields at Python's own speed.
#ifndef PELK_PYTHON_MESSAGE_H
#define PELK_PYTHON_MESSAGE_H

#include <cstdint>

#include <pybind11/pybind11.h>

// A new pelk.Message; header is bytes or a PelkorHeader, buffers a list of
// bytes.
pybind11::object MakeMessage(uint32_t type, uint32_t srcAddr1, uint32_t srcAddr2, uint32_t tag,
                             pybind11::object header, pybind11::list buffers);

void DefineMessage(pybind11::module_& module);

#endif

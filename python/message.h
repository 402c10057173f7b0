// pelk.Message: one received message with its data buffers.
#ifndef PELK_PYTHON_MESSAGE_H
#define PELK_PYTHON_MESSAGE_H

#include <cstdint>

#include <pybind11/pybind11.h>

struct Message {
    uint32_t type = 0;
    uint32_t srcAddr1 = 0;
    uint32_t srcAddr2 = 0;
    uint32_t tag = 0;
    pybind11::object header;  // bytes, or a PelkorHeader
    pybind11::list buffers;   // of bytes
};

void DefineMessage(pybind11::module_& module);

#endif

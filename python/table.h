// The board-identity table for Python: pelk.boards() and pelk.resolve(),
// attaching to the table and detaching again for the caller.
#ifndef PELK_PYTHON_TABLE_H
#define PELK_PYTHON_TABLE_H

#include <string>

#include <pybind11/pybind11.h>

#include <pelklib.h>

struct Resolution {
    PELKLIB_DRIVER_TYPE type;
    std::string driver;  // "zb5t", "zbhost", "qm"
    unsigned int id;     // the board's ID within its driver
};

// The driver of a logical board number; raises pelk.Error when it cannot
// be resolved.
Resolution ResolveBoard(unsigned int number);

void DefineTable(pybind11::module_& module);

#endif

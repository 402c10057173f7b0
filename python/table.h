// The board-identity table for Python: pelk.boards() and pelk.resolve(),
// attaching to the table and detaching again for the caller, or reading the
// table of the host of a pelkd (remote="unix:PATH" or "HOST:PORT").
#ifndef PELK_PYTHON_TABLE_H
#define PELK_PYTHON_TABLE_H

#include <optional>
#include <string>

#include <pybind11/pybind11.h>

#include <pelklib.h>

struct Resolution {
    PELKLIB_DRIVER_TYPE type;
    std::string driver;  // "zb5t", "zbhost", "qm"
    unsigned int id;     // the board's ID within its driver
};

// The driver of a logical board number, in this host's table or in that of
// the pelkd at remote; raises pelk.Error when it cannot be resolved.
Resolution ResolveBoard(unsigned int number, const std::optional<std::string>& remote);

void DefineTable(pybind11::module_& module);

#endif

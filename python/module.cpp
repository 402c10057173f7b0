// The Python module pelk: board access through pelklib for test scripts.
#include <pybind11/pybind11.h>

#include "python/board.h"
#include "python/diagnostics.h"
#include "python/errors.h"
#include "python/header.h"
#include "python/message.h"
#include "python/table.h"

PYBIND11_MODULE(_pelk, module) {
    module.doc() =
        "Board access for zb5t telephony boards and the zbhost emulator: pelk.Board sends and "
        "receives messages and runs board operations, pelk.boards() and pelk.resolve() read "
        "the board-identity table, failures raise pelk.Error.";
    module.attr("__version__") = PELK_VERSION;
    DefineDiagnostics(module);
    DefineErrors(module);
    DefinePelkorHeader(module);
    DefineMessage(module);
    DefineTable(module);
    DefineBoard(module);
}

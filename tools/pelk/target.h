// The board a command works on: --board N (a logical board number, resolved
// through the board-identity table) or --driver zb5t|zbhost [--id ID].
#ifndef PELK_TOOL_TARGET_H
#define PELK_TOOL_TARGET_H

#include <functional>
#include <memory>
#include <vector>

#include <pelklib.h>

#include "tools/pelk/command.h"

struct PelkDeleter {
    void operator()(cPelkLib* lib) const { deletePelkLib(lib); }
};
using PelkHandle = std::unique_ptr<cPelkLib, PelkDeleter>;

struct Target {
    PelkHandle lib;
    PELKLIB_DRIVER_TYPE driver = PELKLIB_DRIVER_ZBHOST;
    unsigned int id = 0;  // the board's ID within its driver
    int waitHandle = -1;
};

extern const std::vector<OptionDef> kTargetOptions;

// Makes the object for the chosen board and opens it, reporting each step
// through invocation.out, then runs body on it. Returns the exit code of
// the failed step, or body's.
int RunOnBoard(Invocation& invocation, const std::function<int(Target& target)>& body);

#endif

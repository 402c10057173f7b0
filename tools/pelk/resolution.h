// Resolving a logical board number through the board-identity table, in
// one shape for every command: {"board", "status", and on success
// "driverType", "driver", "id"; for -16 "cause"}.
#ifndef PELK_TOOL_RESOLUTION_H
#define PELK_TOOL_RESOLUTION_H

#include <string>

#include <pelklib.h>

#include "services/driver_names.h"
#include "tools/common/json.h"

struct Resolution {
    unsigned int board = 0;
    int status = 0;
    PELKLIB_DRIVER_TYPE type = PELKLIB_DRIVER_QM;
    unsigned int id = 0;
    // For PKSTATUS_NO_SUCH_BOARD: which of its two causes it was.
    std::string cause;
};

Resolution ResolveBoard(unsigned int board);

JsonObject ResolutionJson(const Resolution& resolution);
// "type 3 (zbhost), ID 0" or the status line, with the cause for -16.
std::string ResolutionText(const Resolution& resolution);

#endif

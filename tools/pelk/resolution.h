// Resolving a logical board number through the board-identity table, in
// one shape for every command: {"board", "status", and on success
// "driverType", "driver", "id"; otherwise "cause" when it is known}.
#ifndef PELK_TOOL_RESOLUTION_H
#define PELK_TOOL_RESOLUTION_H

#include <string>

#include <pelklib.h>

#include "services/driver_names.h"
#include "tools/common/json.h"
#include "tools/common/output.h"

struct Resolution {
    unsigned int board = 0;
    int status = 0;
    PELKLIB_DRIVER_TYPE type = PELKLIB_DRIVER_QM;
    unsigned int id = 0;
    // For PKSTATUS_NO_SUCH_BOARD: which of its two causes it was; for
    // OAMSHADOW_ERR_UNAVAILABLE: why there is no table.
    std::string cause;
};

// Resolves without attaching (so without making a table) when there is no
// table to look at.
Resolution ResolveBoard(unsigned int board);

JsonObject ResolutionJson(const Resolution& resolution);
// "type 3 (zbhost), ID 0" or the status line, with the cause when known.
std::string ResolutionText(const Resolution& resolution);
// A failed resolution as the command's error, said once: "board 9: -16
// PKSTATUS_NO_SUCH_BOARD: no board has number 9 in the table".
void ReportUnresolved(Output& out, const Resolution& resolution);

#endif

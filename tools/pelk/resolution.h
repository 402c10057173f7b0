// Resolving a logical board number through the board-identity table (of
// this host, or of the host of a pelkd), in one shape for every command: {"board", "status", and on
// success "driverType", "driver", "id"; for -16 "cause"}.
#ifndef PELK_TOOL_RESOLUTION_H
#define PELK_TOOL_RESOLUTION_H

#include <string>
#include <vector>

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

// remote: the pelkd whose table resolves the number, or "" for this host's.
Resolution ResolveBoard(unsigned int board, const std::string& remote);

// Copies the whole table (this host's, or that of the pelkd at remote) at
// once, so a list is a table that existed: 0 or the table's status.
int ReadTable(const std::string& remote, std::vector<OAMSHADOW_BOARD>* boards, bool* qm);

JsonObject ResolutionJson(const Resolution& resolution);
// "type 3 (zbhost), ID 0" or the status line, with the cause for -16.
std::string ResolutionText(const Resolution& resolution);

#endif

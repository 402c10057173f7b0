// Resolving a logical board number through the board-identity table (of
// this host, or of the host of a pelkd), in one shape for every command:
// {"board", "status", and on success "driverType", "driver", "id";
// otherwise "cause" when it is known}.
#ifndef PELK_TOOL_RESOLUTION_H
#define PELK_TOOL_RESOLUTION_H

#include <string>
#include <vector>

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

// remote: the pelkd whose table resolves the number, or "" for this host's.
// This host's is resolved without attaching (so without making a table)
// when there is no table to look at.
Resolution ResolveBoard(unsigned int board, const std::string& remote);

// Copies the whole table of the pelkd at remote at once, so a list is a
// table that existed: 0, or the table's status with what it means in *why
// (when given).
int ReadRemoteTable(const std::string& remote, std::vector<OAMSHADOW_BOARD>* boards, bool* qm,
                    std::string* why);

JsonObject ResolutionJson(const Resolution& resolution);
// "type 3 (zbhost), ID 0" or the status line, with the cause when known.
std::string ResolutionText(const Resolution& resolution);
// A failed resolution as the command's error, said once: "board 9: -16
// PKSTATUS_NO_SUCH_BOARD: no board has number 9 in the table".
void ReportUnresolved(Output& out, const Resolution& resolution);

#endif

#include "tools/common/board_table.h"

#include "services/shm_presence.h"
#include "tools/common/status.h"

int ReadBoardTable(std::vector<OAMSHADOW_BOARD>* boards, bool* qm, std::string* why) {
    *why = MissingBoardTable();
    if (!why->empty()) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    int status = oamShadowInit();
    if (status != 0) {
        *why = UnopenedBoardTable();
        return status;
    }
    int count = 0;
    bool again = true;
    while (again) {
        boards->resize(static_cast<size_t>(count));
        status = oamShadowCopyTable(0, boards->data(), count, &count, qm);
        // With too little room the table tells its size (it may have grown).
        again = status == OAMSHADOW_ERR_UNAVAILABLE && static_cast<size_t>(count) > boards->size();
    }
    oamShadowExit();
    boards->resize(status == 0 ? static_cast<size_t>(count) : 0);
    if (status != 0) {
        *why = "the board-identity table cannot be read: " +
               StatusLine(DescribeStatus(status, nullptr));
    }
    return status;
}

// The board-identity table kept open between one process's resolutions by
// board number, apart from the process's attachment (oamShadowInit and
// oamShadowExit), which it neither makes nor changes. Opening the table
// costs system calls and page faults; using a table kept open costs none.
//
// The table is opened again when its journal shows that a table segment
// was made anew since it was opened (a supervisor replaced the segment),
// and once it has been open for a second, so that segments removed or
// replaced by other means are met within that time too.
#ifndef PELK_OAM_KEPT_TABLE_H
#define PELK_OAM_KEPT_TABLE_H

#include <ctime>

#include "oam/board_ids_shadow.h"

// Its user serialises the calls. Kept for the process's life: nothing is
// released at exit, when a resolution may still run on another thread.
class KeptBoardTable {
public:
    // The table loaded once from the segment, with its mutex held; null when
    // it cannot be opened. Each table returned is handed back with Done().
    CBoardIDsShadow* Load();
    // Ends the access as the lookups do (CBoardIDsShadow::ReleaseUnchanged).
    void Done();

private:
    bool Expired(const timespec& now) const;
    void Drop();

    CBoardIDsShadow* m_table = nullptr;
    uint32_t m_generation = 0;  // the table's generation when it was opened
    timespec m_opened_at = {0, 0};
};

#endif

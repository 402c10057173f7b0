// The board-identity table the process is attached to, for the library's
// own use beside the exported lookups.
#ifndef PELK_OAM_ATTACHED_TABLE_H
#define PELK_OAM_ATTACHED_TABLE_H

#include "oam/board_ids_shadow.h"

struct CountedBoardTable;

// A counted reference to the attached table, taken at construction: the
// table stays alive while the reference exists, also across oamShadowExit
// on another thread. Get() is null when the process was detached.
class AttachedBoardTable {
public:
    AttachedBoardTable();
    ~AttachedBoardTable();
    AttachedBoardTable(const AttachedBoardTable&) = delete;
    AttachedBoardTable& operator=(const AttachedBoardTable&) = delete;

    CBoardIDsShadow* Get() const;

private:
    CountedBoardTable* m_counted;
};

#endif

// The supervisor's side of the board-identity table: changes it under the
// table's mutex and keeps the records in ascending case-insensitive name
// order. Each change returns 0 or an errno value: EEXIST (name taken),
// ENOENT (no such name), EOVERFLOW (the table would not fit its segment;
// the segment is left as it was).
#ifndef PELK_OAM_BOARD_TABLE_WRITER_H
#define PELK_OAM_BOARD_TABLE_WRITER_H

#include "oam/board_ids_shadow.h"

class CBoardTableWriter : public CBoardIDsShadow {
public:
    CBoardTableWriter(const char* name, int size) : CBoardIDsShadow(name, size) {}

    int Insert(const CBoardIDShadow& record);
    int Remove(const char* name);
    // Replaces every record; `records` must already be in name order.
    int Replace(const CBoardIDShadow* records, int count);
    int SetIsUsingQmPlugin(bool isUsing);
};

#endif

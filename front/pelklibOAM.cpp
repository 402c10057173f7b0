// Resolution of a logical board number to the driver that serves the board,
// through the board-identity table.
//
// One process-wide lock guards the attached flag and the table behind it, so
// attach, detach, resolution and creation by board number may be called from
// several threads: a detach waits for a resolution in progress.
//
// Creation by board number leaves the process detached, as if it had
// attached and detached around its resolution; the table it resolves in is
// one the library keeps open for the next such resolution
// (oam/kept_table.h), which no other function sees.
#include <climits>
#include <cstdlib>
#include <mutex>

#include <pelklib.h>

#include "front/resolution.h"
#include "oam/attached_table.h"
#include "oam/kept_table.h"
#include "services/driver_names.h"

namespace {

bool s_OAMinit = false;
std::mutex s_oamLock;
KeptBoardTable s_keptTable;  // guarded by s_oamLock

// A whole decimal number as strtol reads it: leading blanks and a sign are
// accepted, the digits must reach the end. Values beyond the 32-bit range
// saturate at its ends (-1 gives 4294967295).
bool ParseDriverBoardID(const char* text, uint32_t* id) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0') {
        return false;
    }
    if (value > static_cast<long>(UINT32_MAX)) {
        value = UINT32_MAX;
    } else if (value < INT32_MIN) {
        value = INT32_MIN;
    }
    *id = static_cast<uint32_t>(value);
    return true;
}

void AttachLocked() {
    if (!s_OAMinit && oamShadowInit() == 0) {
        s_OAMinit = true;
    }
}

void DetachLocked() {
    oamShadowExit();
    s_OAMinit = false;
}

// The board's record by number, then the record of that name (as two
// lookups would find them), both in one load of the table.
int ResolveInTable(const CZelArray<CBoardIDShadow>& records, unsigned int board,
                   PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
    int index;
    if (!SearchByNumber(records, board, &index)) {
        return PKSTATUS_NO_SUCH_BOARD;
    }
    if (!SearchByName(records, records[index].GetName(), &index)) {
        return OAMSHADOW_ERR_NOT_FOUND;
    }
    const CBoardIDShadow& record = records[index];
    uint32_t parsedID;
    if (!ParseDriverBoardID(record.GetDriverBoardID(), &parsedID)) {
        return PKSTATUS_NO_SUCH_BOARD;
    }
    if (!DriverTypeByName(record.GetDriverName(), type)) {
        return PKSTATUS_UNKNOWN_DRIVER;
    }
    if (id != nullptr) {
        *id = parsedID;
    }
    return PKERR_OK;
}

// The whole resolution runs on one load of the table under one hold of its
// (recursive) mutex, so the driver found is that of the board found, even
// while a supervisor writes.
int ResolveLocked(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
    if (!s_OAMinit) {
        return PKSTATUS_OAM_NOT_ATTACHED;
    }
    AttachedBoardTable attached;
    CBoardIDsShadow* table = attached.Get();
    if (table == nullptr) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    table->prefix();
    int status = ResolveInTable(table->Loaded(), board, type, id);
    table->ReleaseUnchanged();
    return status;
}

}  // namespace

void PelklibAttachOAM() {
    std::lock_guard<std::mutex> hold(s_oamLock);
    AttachLocked();
}

void PelklibDetachOAM() {
    std::lock_guard<std::mutex> hold(s_oamLock);
    DetachLocked();
}

int PelklibGetBoardDriver(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
    std::lock_guard<std::mutex> hold(s_oamLock);
    return ResolveLocked(board, type, id);
}

// A table that cannot be opened leaves the resolution as a failed attach
// would: not attached.
int PelklibResolveDetached(unsigned int board, PELKLIB_DRIVER_TYPE* type) {
    std::lock_guard<std::mutex> hold(s_oamLock);
    int status = PKSTATUS_OAM_NOT_ATTACHED;
    if (CBoardIDsShadow* table = s_keptTable.Load()) {
        status = ResolveInTable(table->Loaded(), board, type, nullptr);
        s_keptTable.Done();
    }
    DetachLocked();
    return status;
}

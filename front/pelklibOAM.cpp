// Resolution of a logical board number to the driver that serves the board,
// through the board-identity table.
//
// One process-wide lock guards the attached flag and the table behind it, so
// attach, detach, resolution and creation by board number may be called from
// several threads: a detach waits for a resolution in progress.
#include <climits>
#include <cstdlib>
#include <mutex>
#include <strings.h>

#include <pelklib.h>

#include "front/resolution.h"
#include "oam/attached_table.h"

namespace {

// Buffers for the texts one resolution takes from the table, each as large
// as the record's field with its NUL, so every text the table holds fits.
constexpr unsigned int kNameSize = CBoardIDShadow::kNameLength + 1;
constexpr unsigned int kDriverNameSize = CBoardIDShadow::kDriverNameLength + 1;
constexpr unsigned int kDriverBoardIDSize = CBoardIDShadow::kDriverBoardIDLength + 1;

bool s_OAMinit = false;
std::mutex s_oamLock;

struct DriverName {
    const char* name;
    PELKLIB_DRIVER_TYPE type;
};
const DriverName kDriverNames[] = {
    {"zb5t", PELKLIB_DRIVER_ZB5T},
    {"qm", PELKLIB_DRIVER_QM},
    {"zbhost", PELKLIB_DRIVER_ZBHOST},
};

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

int ResolveInTable(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
    char boardName[kNameSize];
    int status = oamShadowBoardLookupByNumber(0, board, boardName, kNameSize);
    if (status == OAMSHADOW_ERR_NOT_FOUND) {
        return PKSTATUS_NO_SUCH_BOARD;
    }
    if (status != 0) {
        return status;
    }
    char driverName[kDriverNameSize];
    char driverBoardID[kDriverBoardIDSize];
    status = oamShadowBoardGetDriverIDs(0, boardName, driverName, kDriverNameSize, driverBoardID,
                                        kDriverBoardIDSize);
    if (status != 0) {
        return status;
    }
    uint32_t parsedID;
    if (!ParseDriverBoardID(driverBoardID, &parsedID)) {
        return PKSTATUS_NO_SUCH_BOARD;
    }
    for (const DriverName& known : kDriverNames) {
        if (strcasecmp(driverName, known.name) == 0) {
            *type = known.type;
            if (id != nullptr) {
                *id = parsedID;
            }
            return PKERR_OK;
        }
    }
    return PKSTATUS_UNKNOWN_DRIVER;
}

// Both lookups run under one hold of the table's (recursive) mutex, so the
// driver found is that of the board found, even while a supervisor writes.
int ResolveLocked(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
    if (!s_OAMinit) {
        return PKSTATUS_OAM_NOT_ATTACHED;
    }
    AttachedBoardTable attached;
    CBoardIDsShadow* table = attached.Get();
    if (table == nullptr) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    table->Lock();
    int status = ResolveInTable(board, type, id);
    table->Unlock();
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

int PelklibResolveDetached(unsigned int board, PELKLIB_DRIVER_TYPE* type) {
    std::lock_guard<std::mutex> hold(s_oamLock);
    AttachLocked();
    int status = ResolveLocked(board, type, nullptr);
    DetachLocked();
    return status;
}

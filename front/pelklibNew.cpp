// Factories of the board-access objects. With PELK_CAPTURE set, each object
// comes wrapped in the recording decorator of capture/; with PELK_REMOTE set,
// the objects by type and by board number are those of the pelkd it names.
#include <pelklib.h>

#include "capture/capture_lib.h"
#include "emu/pelklib_emu.h"
#include "front/resolution.h"
#include "services/settings.h"
#include "unix/pelklib.h"

PELK_API extern const int _lib_version = 1;

cPelkLib* NewPelkLibByType(PELKLIB_DRIVER_TYPE type) {
    if (const char* remote = SettingRemote()) {
        return NewPelkLibRemote(remote, type, 0);
    }
    switch (type) {
        case PELKLIB_DRIVER_ZB5T: return CaptureIfRequested(new cPelkLib_Unix(), "zb5t");
        case PELKLIB_DRIVER_ZBHOST: return CaptureIfRequested(new cPelkLib_Emu(), "zbhost");
        default: return nullptr;
    }
}

// The object is made once the process is detached again; it does not depend
// on the table.
cPelkLib* NewPelkLibByBoardNumber(int board) {
    if (const char* remote = SettingRemote()) {
        return NewPelkLibRemoteByBoardNumber(remote, board);
    }
    PELKLIB_DRIVER_TYPE type;
    if (PelklibResolveDetached(static_cast<unsigned int>(board), &type) != PKERR_OK) {
        return nullptr;
    }
    return NewPelkLibByType(type);
}

extern "C" cPelkLib* newPelkLib(void) {
    return CaptureIfRequested(new cPelkLib_Unix(), "zb5t");
}

extern "C" cPelkLib* pelklibInit(void) {
    return newPelkLib();
}

extern "C" void deletePelkLib(cPelkLib* lib) {
    delete lib;
}

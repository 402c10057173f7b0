// Factories of the board-access objects.
#include <pelklib.h>

#include "emu/pelklib_emu.h"
#include "front/resolution.h"
#include "unix/pelklib.h"

PELK_API extern const int _lib_version = 1;

cPelkLib* NewPelkLibByType(PELKLIB_DRIVER_TYPE type) {
    switch (type) {
        case PELKLIB_DRIVER_ZB5T:
            return new cPelkLib_Unix();
        case PELKLIB_DRIVER_ZBHOST:
            return new cPelkLib_Emu();
        default:
            return nullptr;
    }
}

// The object is made once the process is detached again; it does not depend
// on the table.
cPelkLib* NewPelkLibByBoardNumber(int board) {
    PELKLIB_DRIVER_TYPE type;
    if (PelklibResolveDetached(static_cast<unsigned int>(board), &type) != PKERR_OK) {
        return nullptr;
    }
    return NewPelkLibByType(type);
}

extern "C" cPelkLib* newPelkLib(void) {
    return new cPelkLib_Unix();
}

extern "C" cPelkLib* pelklibInit(void) {
    return newPelkLib();
}

extern "C" void deletePelkLib(cPelkLib* lib) {
    delete lib;
}

// Factories of the board-access objects.
#include <pelklib.h>
#include "emu/pelklib_emu.h"
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

extern "C" cPelkLib* newPelkLib(void) {
    return new cPelkLib_Unix();
}

extern "C" cPelkLib* pelklibInit(void) {
    return newPelkLib();
}

extern "C" void deletePelkLib(cPelkLib* lib) {
    delete lib;
}

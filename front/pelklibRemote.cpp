// The exported entries to the boards and the table of another host: the
// remote backend's factories, each object wrapped for capture like the
// others, and the table read through pelkd.
#include <pelklib.h>

#include "capture/capture_lib.h"
#include "remote/pelklib_remote.h"
#include "remote/remote_table.h"

cPelkLib* NewPelkLibRemote(const char* target, PELKLIB_DRIVER_TYPE type, unsigned int board) {
    if (target == nullptr || (type != PELKLIB_DRIVER_ZB5T && type != PELKLIB_DRIVER_ZBHOST)) {
        return nullptr;
    }
    cPelkLib_Remote* remote = new cPelkLib_Remote(target, type, board);
    return CaptureIfRequested(remote, remote->Description().c_str());
}

cPelkLib* NewPelkLibRemoteByBoardNumber(const char* target, int board) {
    PELKLIB_DRIVER_TYPE type;
    unsigned int id;
    if (target == nullptr ||
        RemoteGetBoardDriver(target, static_cast<unsigned int>(board), &type, &id) != PKERR_OK) {
        return nullptr;
    }
    return NewPelkLibRemote(target, type, id);
}

int PelklibRemoteGetBoardDriver(const char* target, unsigned int board, PELKLIB_DRIVER_TYPE* type,
                                unsigned int* id) {
    return target == nullptr ? OAMSHADOW_ERR_UNAVAILABLE
                             : RemoteGetBoardDriver(target, board, type, id);
}

extern "C" int PelklibRemoteCopyTable(const char* target, OAMSHADOW_BOARD* boards, int capacity,
                                      int* count, bool* isUsingQmPlugin) {
    return target == nullptr ? OAMSHADOW_ERR_UNAVAILABLE
                             : RemoteCopyTable(target, boards, capacity, count, isUsingQmPlugin);
}

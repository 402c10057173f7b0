// The board-identity table of pelkd's host, read through pelkd: the remote
// forms of oamShadowCopyTable and PelklibGetBoardDriver, with the same
// statuses. A pelkd that cannot be reached gives OAMSHADOW_ERR_UNAVAILABLE,
// with the cause in the diagnostic.
#ifndef PELK_REMOTE_REMOTE_TABLE_H
#define PELK_REMOTE_REMOTE_TABLE_H

#include <pelklib.h>

int RemoteCopyTable(const char* target, OAMSHADOW_BOARD* boards, int capacity, int* count,
                    bool* isUsingQmPlugin);
int RemoteGetBoardDriver(const char* target, unsigned int board, PELKLIB_DRIVER_TYPE* type,
                         unsigned int* id);

#endif

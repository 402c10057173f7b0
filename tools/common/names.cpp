#include "tools/common/names.h"

#include <pelklib.h>

const NamedStatus kNamedStatuses[] = {
    {PKERR_OK, "OK", "success"},
    {PKERR_UNKNOWN, "PKERR_UNKNOWN", "a driver request failed, or an unspecified failure"},
    {PKERR_TIMEOUT, "PKERR_TIMEOUT", "no message or board answer within the time-out"},
    {PKERR_NO_MESSAGE, "PKERR_NO_MESSAGE", "no message bytes"},
    {PKERR_BAD_MESSAGE, "PKERR_BAD_MESSAGE", "a malformed message, or the stream is out of step"},
    {PKERR_WRONG_BUFSIZE, "PKERR_WRONG_BUFSIZE", "a buffer of the wrong size"},
    {PKERR_BUFCOUNT, "PKERR_BUFCOUNT", "more than 4 data buffers"},
    {PKERR_NO_MEMORY, "PKERR_NO_MEMORY", "out of memory"},
    {PKERR_SEQUENCE_ERROR, "PKERR_SEQUENCE_ERROR", "operation out of sequence"},
    {PKERR_ABORTED, "PKERR_ABORTED", "aborted"},
    {PKERR_DATA_LOST, "PKERR_DATA_LOST", "the buffer was too small; the rest was lost"},
    {PKERR_UNEXPECTED_COMPLETION, "PKERR_UNEXPECTED_COMPLETION", "unexpected completion"},
    {PKERR_NOT_OPEN, "PKERR_NOT_OPEN", "not open, or the emulator handshake failed"},
    {PKSTATUS_HEADER_TOO_LONG, "PKSTATUS_HEADER_TOO_LONG",
     "the header does not fit the send buffer"},
    {PKSTATUS_OAM_NOT_ATTACHED, "PKSTATUS_OAM_NOT_ATTACHED",
     "the board-identity table is not attached"},
    {PKSTATUS_UNKNOWN_DRIVER, "PKSTATUS_UNKNOWN_DRIVER",
     "the table names a driver other than zb5t, qm, zbhost"},
    {PKSTATUS_NO_SUCH_BOARD, "PKSTATUS_NO_SUCH_BOARD",
     "no such board, or its driver board ID is not a decimal number"},
    {PKSTATUS_NOT_PROVIDED, "PKSTATUS_NOT_PROVIDED",
     "the emulator backend does not provide this operation"},
    {PKSTATUS_INVALID_HANDLE, "PKSTATUS_INVALID_HANDLE",
     "invalid pipe descriptor or semaphore identifier"},
    {OAMSHADOW_ERR_UNAVAILABLE, "OAMSHADOW_ERR_UNAVAILABLE",
     "no board-identity table, or a text too long for its buffer"},
    {OAMSHADOW_ERR_NOT_FOUND, "OAMSHADOW_ERR_NOT_FOUND", "not found in the board-identity table"},
};

const size_t kNamedStatusCount = sizeof kNamedStatuses / sizeof kNamedStatuses[0];

const NamedStatus* FindNamedStatus(int code) {
    for (size_t i = 0; i < kNamedStatusCount; ++i) {
        if (kNamedStatuses[i].code == code) {
            return &kNamedStatuses[i];
        }
    }
    return nullptr;
}

const char* DriverName(int type) {
    switch (type) {
        case PELKLIB_DRIVER_QM: return "qm";
        case PELKLIB_DRIVER_ZB5T: return "zb5t";
        case PELKLIB_DRIVER_ZBHOST: return "zbhost";
    }
    return "unknown";
}

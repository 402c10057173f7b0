#include "services/statuses.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

namespace {

// Operating-system error numbers are small positive numbers.
constexpr int kLargestErrno = 4095;
// The library's codes with names run from -1 to -12 (PKERR_NOT_OPEN).
constexpr int kLowestNamedCode = PKERR_NOT_OPEN;

}  // namespace

const NamedStatus* FindNamedStatus(int code) {
    for (size_t i = 0; i < kNamedStatusCount; ++i) {
        if (kNamedStatuses[i].code == code) {
            return &kNamedStatuses[i];
        }
    }
    return nullptr;
}

std::string StatusName(int code) {
    if (const NamedStatus* known = FindNamedStatus(code)) {
        return known->name;
    }
    if (code > 0) {
        const char* name = strerrorname_np(code);
        return name != nullptr ? name : "errno " + std::to_string(code);
    }
    return "unknown";
}

std::string StatusMeaning(int code) {
    if (const NamedStatus* known = FindNamedStatus(code)) {
        return known->meaning;
    }
    return code > 0 ? std::strerror(code) : "not a status of this library";
}

bool StatusByName(const std::string& name, int* code) {
    for (size_t i = 0; i < kNamedStatusCount; ++i) {
        if (name == kNamedStatuses[i].name) {
            *code = kNamedStatuses[i].code;
            return true;
        }
    }
    for (int number = 1; number <= kLargestErrno; ++number) {
        const char* errnoName = strerrorname_np(number);
        if (errnoName != nullptr && name == errnoName) {
            *code = number;
            return true;
        }
    }
    return false;
}

void PelkStatusText(int code, char* text, unsigned int size) {
    char chosen[40];
    if (code >= 0) {
        std::snprintf(chosen, sizeof chosen, "Kernel error of %d", errno);
    } else if (code < kLowestNamedCode) {
        std::snprintf(chosen, sizeof chosen, "PKERR_unknown");
    } else {
        std::snprintf(chosen, sizeof chosen, "%-28s", FindNamedStatus(code)->name);
    }
    if (size == 0) {
        return;
    }
    unsigned int n = 0;
    while (chosen[n] != '\0' && n < size - 1) {
        text[n] = chosen[n];
        ++n;
    }
    text[n] = '\0';
}

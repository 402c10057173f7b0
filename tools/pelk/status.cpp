#include "tools/pelk/status.h"

#include <cstdio>
#include <cstring>

namespace {

struct NamedStatus {
    int code;
    const char* name;
    const char* meaning;
};

const NamedStatus kStatuses[] = {
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

}  // namespace

StatusInfo DescribeStatus(int code, cPelkLib* lib) {
    StatusInfo status;
    status.code = code;
    for (const NamedStatus& known : kStatuses) {
        if (known.code == code) {
            status.name = known.name;
            status.meaning = known.meaning;
        }
    }
    if (status.name.empty() && code > 0) {
        const char* name = strerrorname_np(code);
        status.name = name ? name : "errno " + std::to_string(code);
        status.meaning = std::strerror(code);
    } else if (status.name.empty()) {
        status.name = "unknown";
        status.meaning = "not a status of this library";
    }
    // For 0 and above the library's text tells the thread's errno, not the
    // code, so only negative codes take it.
    if (lib != nullptr && code < 0) {
        char text[64] = "";
        lib->GetErrorText(code, text, sizeof text);
        status.libraryText = text;
        status.libraryText.erase(status.libraryText.find_last_not_of(' ') + 1);
    }
    return status;
}

bool StatusByName(const std::string& name, int* code) {
    for (const NamedStatus& known : kStatuses) {
        if (name == known.name) {
            *code = known.code;
            return true;
        }
    }
    // errno values are small positive numbers.
    for (int number = 1; number < 4096; ++number) {
        const char* errnoName = strerrorname_np(number);
        if (errnoName != nullptr && name == errnoName) {
            *code = number;
            return true;
        }
    }
    return false;
}

JsonObject StatusJson(const StatusInfo& status) {
    JsonObject json;
    json.Int("code", status.code).Str("name", status.name).Str("meaning", status.meaning);
    if (!status.libraryText.empty()) {
        json.Str("text", status.libraryText);
    }
    return json;
}

std::string StatusLine(const StatusInfo& status) {
    std::string line = std::to_string(status.code);
    if (status.code >= 0x10000) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (0x%x)", static_cast<unsigned int>(status.code));
        line += hex;
    }
    line += " " + status.name + ": " + status.meaning;
    if (!status.libraryText.empty() && status.libraryText != status.name) {
        line += " [library text \"" + status.libraryText + "\"]";
    }
    return line;
}

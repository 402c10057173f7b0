// How the emulator backend opens what lies in the emulator directory: never
// through a symbolic link, close-on-exec, off descriptors 0 to 2, and checked
// on the descriptor (services/shared_access.h) before it is used; and the
// texts that say why an Open found no way to the runtime.
#ifndef PELK_EMU_EMULATOR_FILES_H
#define PELK_EMU_EMULATOR_FILES_H

#include <string>

#include "services/shared_access.h"
#include "wire/emulator_paths.h"

// Opens path with flags (O_NOFOLLOW and O_CLOEXEC added) through the
// system-call seam. The descriptor; or -1 with open's errno and `refusal`
// empty; or -1 with errno EACCES (ELOOP for a symbolic link) and `refusal`
// saying what is wrong with the object and what to remove, when it is not
// what kind says or belongs to a user the access policy does not trust.
// `refusal` may be null when nobody wants the text.
int OpenEmulatorObject(const char* path, int flags, SharedKind kind, std::string* refusal);

// Before Open uses the emulator directory: its name fits, it exists and
// passes the check, and the runtime's lock, when there, is a regular file
// that passes it. 0, or the status Open returns (-1 for the directory, -12
// for the lock) with one "Open: " text logged saying what to do.
int CheckEmulatorDirectory();

// After an open of path in the handshake failed with error: logs an
// "Open: " text for a refused object (refusal) or a permission denied.
void ExplainOpenFailure(const char* path, int error, const std::string& refusal);

// After a failed handshake: logs that no runtime serves the directory when
// a manager pipe is not there.
void ExplainMissingRuntime();

// The tail of every text about a runtime that is not there: how to start one.
// (A fixed buffer: standard-library templates made here would be exported.)
struct RuntimeAdvice {
    char text[2 * ZBHOST_DIR_MAX + 128];
};
RuntimeAdvice StartRuntimeAdvice();

#endif

// Where the emulator backend and the emulator runtime meet: the directory
// named by PELK_EMULATOR_DIR (services/settings.h) and the names of the
// FIFOs, lock and semaphore marker in it. The variable is read each time a
// path is built.
#ifndef PELK_WIRE_EMULATOR_PATHS_H
#define PELK_WIRE_EMULATOR_PATHS_H

#include <cstdio>
#include <cstring>

#include "services/settings.h"

// Longest directory name taken; a longer one names no file, so whatever
// opens or creates a path in it fails as for a missing file.
constexpr size_t ZBHOST_DIR_MAX = 200;

constexpr const char* ZBHOST_SEMAPHORE_NAME = "ZBHostSemaphore";
constexpr const char* ZBHOST_LOCK_NAME = "ZBHostManager.lock";
constexpr const char* ZBHOST_MANAGER_IN_NAME = "ZBHostManagerIn";    // library writes
constexpr const char* ZBHOST_MANAGER_OUT_NAME = "ZBHostManagerOut";  // library reads
constexpr const char* ZBHOST_PIPE_IN_NAME = "ZBHostIn";              // + "%04d": library writes
constexpr const char* ZBHOST_PIPE_OUT_NAME = "ZBHostOut";            // + "%04d": library reads

// A path in the emulator directory; empty when the directory is too long.
struct EmulatorPath {
    char text[ZBHOST_DIR_MAX + 64];
};

inline const char* EmulatorDir() {
    return SettingEmulatorDir();
}

// "<dir>/<name>", e.g. "/dev/ZBHostManagerIn".
inline EmulatorPath EmulatorFile(const char* name) {
    EmulatorPath path{};
    const char* dir = EmulatorDir();
    if (strnlen(dir, ZBHOST_DIR_MAX + 1) <= ZBHOST_DIR_MAX) {
        std::snprintf(path.text, sizeof path.text, "%s/%s", dir, name);
    }
    return path;
}

// "<dir>/<name><number as %04d>", e.g. "/dev/ZBHostIn0007".
inline EmulatorPath EmulatorPipe(const char* name, int number) {
    EmulatorPath path{};
    const char* dir = EmulatorDir();
    if (strnlen(dir, ZBHOST_DIR_MAX + 1) <= ZBHOST_DIR_MAX) {
        std::snprintf(path.text, sizeof path.text, "%s/%s%04d", dir, name, number);
    }
    return path;
}

#endif

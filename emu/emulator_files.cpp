#include "emu/emulator_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <pelklib.h>

#include "emu/dprint.h"
#include "emu/system_calls.h"
#include "services/standard_descriptors.h"

int OpenEmulatorObject(const char* path, int flags, SharedKind kind, std::string* refusal) {
    std::string why;
    int fd = g_emuSystemCalls.open(path, flags | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    if (fd == -1 && error == ELOOP) {
        why = DescribeOpenFailure(path, error);
    }
    if (fd != -1) {
        fd = KeepOffStandardDescriptors(fd);
        error = fd == -1 ? errno : CheckSharedObject(fd, kind, path, &why);
        if (error != 0 && fd != -1) {
            g_emuSystemCalls.close(fd);
            fd = -1;
        }
    }
    if (refusal != nullptr) {
        *refusal = why;
    }
    errno = error;
    return fd;
}

RuntimeAdvice StartRuntimeAdvice() {
    RuntimeAdvice advice;
    std::snprintf(advice.text, sizeof advice.text,
                  "start zbhost in %s (PELK_EMULATOR_DIR=%s zbhost), or set PELK_EMULATOR_DIR to "
                  "the directory zbhost serves",
                  EmulatorDir(), EmulatorDir());
    return advice;
}

int CheckEmulatorDirectory() {
    const char* dir = EmulatorDir();
    if (strnlen(dir, ZBHOST_DIR_MAX + 1) > ZBHOST_DIR_MAX) {
        dprint("Open: the emulator directory's name (PELK_EMULATOR_DIR) is longer than %zu "
               "bytes: choose a shorter path\n",
               ZBHOST_DIR_MAX);
        return PKERR_UNKNOWN;
    }
    const int fd = g_emuSystemCalls.open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1) {
        const int error = errno;
        if (error == ENOENT) {
            dprint("Open: the emulator directory %s does not exist: %s\n", dir,
                   StartRuntimeAdvice().text);
        } else if (error == ENOTDIR) {
            dprint("Open: the emulator directory %s is not a directory: set PELK_EMULATOR_DIR to "
                   "the directory zbhost serves\n",
                   dir);
        } else {
            dprint("Open: the emulator directory: %s\n", DescribeOpenFailure(dir, error).c_str());
        }
        return PKERR_UNKNOWN;
    }
    std::string why;
    const int refused = CheckSharedObject(fd, SharedKind::Directory, dir, &why);
    g_emuSystemCalls.close(fd);
    if (refused != 0) {
        dprint("Open: the emulator directory is refused: %s\n", why.c_str());
        return PKERR_UNKNOWN;
    }
    const int lock = OpenEmulatorObject(EmulatorFile(ZBHOST_LOCK_NAME).text, O_RDONLY | O_NONBLOCK,
                                        SharedKind::File, &why);
    if (lock != -1) {
        g_emuSystemCalls.close(lock);
    } else if (!why.empty()) {
        dprint("Open: the runtime's lock is refused: %s\n", why.c_str());
        return PKERR_NOT_OPEN;
    }
    return 0;
}

void ExplainOpenFailure(const char* path, int error, const std::string& refusal) {
    if (!refusal.empty()) {
        dprint("Open: refused: %s\n", refusal.c_str());
    } else if (error == EACCES || error == EPERM) {
        dprint("Open: %s\n", DescribeOpenFailure(path, error).c_str());
    }
}

void ExplainMissingRuntime() {
    for (const char* name : {ZBHOST_MANAGER_OUT_NAME, ZBHOST_MANAGER_IN_NAME}) {
        const EmulatorPath manager = EmulatorFile(name);
        struct stat status;
        if (lstat(manager.text, &status) == -1 && errno == ENOENT) {
            dprint("Open: no runtime serves %s (%s does not exist): %s\n", EmulatorDir(),
                   manager.text, StartRuntimeAdvice().text);
            return;
        }
    }
}

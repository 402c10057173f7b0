#include "tools/zbhost/fifo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "services/shared_access.h"
#include "wire/emulator_paths.h"

namespace {

// "ZBHostIn" or "ZBHostOut" followed by digits only.
bool IsPairName(const char* name) {
    for (const char* base : {ZBHOST_PIPE_IN_NAME, ZBHOST_PIPE_OUT_NAME}) {
        const size_t length = std::strlen(base);
        if (std::strncmp(name, base, length) != 0 || name[length] == '\0') continue;
        const char* digit = name + length;
        while (*digit >= '0' && *digit <= '9') ++digit;
        if (*digit == '\0') return true;
    }
    return false;
}

// Hands the FIFO at path to the access policy through a descriptor, so a
// name swapped for a link to another file in the meantime changes nothing.
bool ShareFifo(const std::string& path) {
    const int fd = OpenFifo(path, O_RDONLY);
    if (fd == -1) {
        return false;
    }
    const int error = ShareDescriptor(fd);
    close(fd);
    errno = error;
    return error == 0;
}

// Creates the FIFO at path, replacing whatever is there.
bool CreateFifo(const std::string& path) {
    return mkfifo(path.c_str(), SharedCreateMode()) == 0 ||
           (errno == EEXIST && unlink(path.c_str()) == 0 &&
            mkfifo(path.c_str(), SharedCreateMode()) == 0);
}

}  // namespace

bool MakeFifo(const std::string& path) {
    return CreateFifo(path) && ShareFifo(path);
}

bool KeepOrMakeFifo(const std::string& path) {
    // Looked at through an O_PATH descriptor: opening it to read would show
    // a reader on it to clients before zbhost serves it.
    const int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    std::string refusal;
    const bool ours =
        fd != -1 && CheckSharedObject(fd, SharedKind::Fifo, path.c_str(), &refusal) == 0;
    if (fd != -1) {
        close(fd);
    }
    return ours || CreateFifo(path);
}

int OpenSharedFifo(const std::string& path) {
    const int fd = OpenFifo(path, O_RDWR);
    const int error = fd == -1 ? errno : ShareDescriptor(fd);
    if (fd != -1 && error != 0) {
        close(fd);
    }
    errno = error;
    return error == 0 ? fd : -1;
}

int OpenFifo(const std::string& path, int access) {
    const int fd = open(path.c_str(), access | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    std::string refusal;
    if (fd != -1 && CheckSharedObject(fd, SharedKind::Fifo, path.c_str(), &refusal) != 0) {
        close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

int RemoveLeftPairs() {
    DIR* dir = opendir(EmulatorDir());
    if (dir == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        struct stat found;
        if (IsPairName(entry->d_name) &&
            fstatat(dirfd(dir), entry->d_name, &found, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISFIFO(found.st_mode) && unlinkat(dirfd(dir), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    closedir(dir);
    return removed;
}

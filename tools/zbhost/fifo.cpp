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

}  // namespace

bool MakeFifo(const std::string& path) {
    if (mkfifo(path.c_str(), SharedCreateMode()) != 0) {
        if (errno != EEXIST || unlink(path.c_str()) != 0 ||
            mkfifo(path.c_str(), SharedCreateMode()) != 0) {
            return false;
        }
    }
    return SharePath(path.c_str()) == 0;
}

bool KeepOrMakeFifo(const std::string& path) {
    struct stat found;
    if (lstat(path.c_str(), &found) == 0 && S_ISFIFO(found.st_mode)) {
        return SharePath(path.c_str()) == 0;
    }
    return MakeFifo(path);
}

int OpenFifo(const std::string& path, int access) {
    return open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC);
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

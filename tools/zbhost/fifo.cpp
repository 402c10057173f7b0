#include "tools/zbhost/fifo.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "emu/pipe_frame.h"
#include "services/shared_access.h"

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

std::string PairPath(const char* base, int number) {
    char name[256];
    std::snprintf(name, sizeof name, ZBHOST_PIPE_NAME_FORMAT, base, number);
    return name;
}

#include "emu/runtime_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>

#include "emu/emulator_files.h"
#include "emu/system_calls.h"
#include "wire/emulator_paths.h"

namespace {

// How often a wait looks at the runtime's lock.
constexpr int kProbeIntervalMs = 10;

long long NowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Runs attempt every interval until it is done (true), the step limit has
// passed (ETIMEDOUT) or the runtime has gone (ESRCH). attempt(ms) may itself
// wait up to ms.
template <typename Attempt>
bool Bounded(Attempt attempt) {
    const long long deadline = NowMs() + ZBHOST_HANDSHAKE_STEP_LIMIT_MS;
    for (;;) {
        const long long left = deadline - NowMs();
        if (attempt(static_cast<int>(left < kProbeIntervalMs ? (left > 0 ? left : 0)
                                                             : kProbeIntervalMs))) {
            return true;
        }
        if (ProbeRuntime() == RuntimePresence::Gone) {
            errno = ESRCH;
            return false;
        }
        if (NowMs() >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
    }
}

}  // namespace

// The lock is taken shared for an instant only: a runtime starting at that
// moment tries its own (exclusive) lock again. A lock the access policy
// refuses tells nothing (Open has said so already).
RuntimePresence ProbeRuntime() {
    const int saved = errno;
    RuntimePresence presence = RuntimePresence::Unknown;
    const int fd = OpenEmulatorObject(EmulatorFile(ZBHOST_LOCK_NAME).text, O_RDONLY | O_NONBLOCK,
                                      SharedKind::File, nullptr);
    if (fd != -1) {
        if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
            presence = RuntimePresence::Gone;
        } else if (errno == EWOULDBLOCK) {
            presence = RuntimePresence::Alive;
        }
        g_emuSystemCalls.close(fd);
    }
    errno = saved;
    return presence;
}

int OpenFifoWhenRead(const char* path, std::string* refusal) {
    int fd = -1;
    int error = 0;
    const bool opened = Bounded([&](int pauseMs) {
        fd = OpenEmulatorObject(path, O_WRONLY | O_NONBLOCK, SharedKind::Fifo, refusal);
        error = errno;
        if (fd != -1 || error != ENXIO) {
            return true;
        }
        const struct timespec pause = {0, pauseMs * 1000000L};
        nanosleep(&pause, nullptr);
        return false;
    });
    if (opened && fd == -1) {
        errno = error;
    }
    return opened ? fd : -1;
}

int WaitReadable(int fd) {
    const bool ready = Bounded([fd](int pauseMs) {
        struct pollfd waiting = {fd, POLLIN, 0};
        return g_emuSystemCalls.poll(&waiting, 1, pauseMs) > 0;
    });
    return ready ? 0 : -1;
}

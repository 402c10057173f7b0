// Delays the emulator backend's opening of a pipe pair (after the manager's
// reply), through the backend's system-call seam, so that a test can stop
// the runtime at that moment. One delay at a time, for the object's life.
#ifndef PELK_TESTS_SUPPORT_PAIR_OPEN_DELAY_H
#define PELK_TESTS_SUPPORT_PAIR_OPEN_DELAY_H

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "emu/system_calls.h"
#include "wire/emulator_paths.h"

class PairOpenDelay {
public:
    explicit PairOpenDelay(unsigned int delayMs) : m_saved(g_emuSystemCalls) {
        DelayMs() = delayMs;
        g_emuSystemCalls.open = DelayedOpen;
    }
    ~PairOpenDelay() { g_emuSystemCalls = m_saved; }
    PairOpenDelay(const PairOpenDelay&) = delete;
    PairOpenDelay& operator=(const PairOpenDelay&) = delete;

private:
    static std::atomic<unsigned int>& DelayMs() {
        static std::atomic<unsigned int> delayMs{0};
        return delayMs;
    }
    // The pair's first FIFO is the one the library writes.
    static int DelayedOpen(const char* path, int flags, ...) {
        va_list arguments;
        va_start(arguments, flags);
        const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(arguments, mode_t) : 0;
        va_end(arguments);
        if (std::strstr(path, ZBHOST_PIPE_IN_NAME) != nullptr) {
            usleep(DelayMs() * 1000);
        }
        return ::open(path, flags, mode);
    }

    EmuSystemCalls m_saved;
};

#endif

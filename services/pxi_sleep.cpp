#include "services/pxi.h"

#include <cerrno>
#include <ctime>

uint32_t pxiSleepMs(uint32_t ms) {
    struct timespec want;
    want.tv_sec = static_cast<time_t>(ms / 1000);
    want.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    struct timespec left = {0, 0};
    if (nanosleep(&want, &left) == 0 || errno != EINTR) {
        return 0;
    }
    // Round the remainder up so a cut-short sleep never reports 0.
    uint64_t rest = static_cast<uint64_t>(left.tv_sec) * 1000u +
                    static_cast<uint64_t>((left.tv_nsec + 999999L) / 1000000L);
    return rest == 0 ? 1 : static_cast<uint32_t>(rest);
}

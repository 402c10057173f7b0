#include "services/ZelZfc.h"

#include <cerrno>
#include <ctime>

#include <pthread.h>
#include <sys/mman.h>

#include "services/shm_segment.h"

struct ZelSharedMutex {
    uint32_t ready;
    pthread_mutex_t mutex;
};

namespace {

constexpr uint32_t kReady = 0x5A454C4D;  // "ZELM"

// Runs under the segment's lock, so the mutex is initialised exactly once;
// an opener that died before marking it ready leaves it to the next one.
int PrepareMutex(void* address, size_t size) {
    if (size < sizeof(ZelSharedMutex)) {
        return EINVAL;
    }
    auto* shared = static_cast<ZelSharedMutex*>(address);
    if (shared->ready == kReady) {
        return 0;
    }
    pthread_mutexattr_t attributes;
    int error = pthread_mutexattr_init(&attributes);
    if (error != 0) {
        return error;
    }
    error = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    if (error == 0) error = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (error == 0) error = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    if (error == 0) error = pthread_mutex_init(&shared->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (error == 0) {
        __atomic_store_n(&shared->ready, kReady, __ATOMIC_RELEASE);
    }
    return error;
}

}  // namespace

CZelMutex::CZelMutex(int, const char* name, int)
    : m_name(name), m_shared(nullptr), m_mapped(0), m_open_error(0) {
    m_open_error = Open();
}

CZelMutex::~CZelMutex() {
    if (m_shared != nullptr) {
        munmap(m_shared, m_mapped);
    }
}

int CZelMutex::Open() {
    ShmSegment segment;
    std::string segmentName = "/" + m_name + ".mutex";
    int error = OpenShmSegment(segmentName.c_str(), sizeof(ZelSharedMutex), &segment, PrepareMutex);
    if (error != 0) {
        return error;
    }
    m_shared = static_cast<ZelSharedMutex*>(segment.address);
    m_mapped = segment.size;
    return 0;
}

int CZelMutex::Lock(long timeout) {
    if (m_shared == nullptr) {
        return m_open_error;
    }
    int result;
    if (timeout < 0) {
        result = pthread_mutex_lock(&m_shared->mutex);
    } else {
        struct timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += timeout / 1000;
        deadline.tv_nsec += (timeout % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        result = pthread_mutex_timedlock(&m_shared->mutex, &deadline);
    }
    if (result == EOWNERDEAD) {
        // The holder died; the mutex is ours at depth 1. The data it guards
        // is reloaded in full by every user, so it can be used at once.
        result = pthread_mutex_consistent(&m_shared->mutex);
    }
    return result;
}

int CZelMutex::Unlock() {
    if (m_shared == nullptr) {
        return m_open_error;
    }
    return pthread_mutex_unlock(&m_shared->mutex);
}

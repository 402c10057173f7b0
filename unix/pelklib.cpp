// cPelkLib_Unix: object lifetime, Open, and the single driver request path.
#include "unix/pelklib.h"

#include <fcntl.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "services/statuses.h"
#include "unix/system_calls.h"

namespace {
constexpr unsigned int kMinHeaderCapacity = 56;
}

cPelkLib_Unix::cPelkLib_Unix()
    : m_buf_size(0), m_rx_len(0), m_rx_pending(0), m_rx_idle(false), m_fd(-1) {}

cPelkLib_Unix::~cPelkLib_Unix() {
    if (m_fd != -1) {
        g_unixSystemCalls.close(m_fd);
    }
    ReleaseBuffers();
}

void cPelkLib_Unix::ReleaseBuffers() {
    m_rx_buf.reset();
    m_tx_buf.reset();
}

// A second Open on an open object first releases the buffers and descriptor
// of the first, so nothing leaks and the object is opened anew.
int cPelkLib_Unix::Open(unsigned int size, int* waitHandle) {
    if (m_fd != -1) {
        g_unixSystemCalls.close(m_fd);
        m_fd = -1;
    }
    ReleaseBuffers();
    m_rx_idle = false;
    m_rx_len = 0;
    m_rx_pending = 0;

    // Sizes that would not fit 32 bits once the descriptor is added cannot
    // be allocated either.
    if (size > UINT32_MAX - ZB5T_DESC_LEN) {
        return PKERR_NO_MEMORY;
    }
    m_buf_size = (size < kMinHeaderCapacity ? kMinHeaderCapacity : size) + ZB5T_DESC_LEN;

    m_rx_buf.reset(new (std::nothrow) uint8_t[m_buf_size]);
    if (m_rx_buf == nullptr) {
        return PKERR_NO_MEMORY;
    }
    m_tx_buf.reset(new (std::nothrow) uint8_t[m_buf_size]);
    if (m_tx_buf == nullptr) {
        ReleaseBuffers();
        return PKERR_NO_MEMORY;
    }

    int fd = g_unixSystemCalls.open(ZB5T_DEVICE_PATH, O_RDWR | O_NDELAY | O_CLOEXEC);
    if (fd == -1) {
        int error = GetError();
        ReleaseBuffers();
        return error;
    }
    int moved = g_unixSystemCalls.fcntl(fd, F_DUPFD_CLOEXEC, static_cast<int>(ZB5T_MIN_FD));
    if (moved == -1) {
        int error = GetError();
        ReleaseBuffers();
        g_unixSystemCalls.close(fd);
        return error;
    }
    g_unixSystemCalls.close(fd);
    m_fd = moved;
    m_rx_idle = true;
    if (waitHandle != nullptr) {
        *waitHandle = m_fd;
    }
    return PKERR_OK;
}

// The driver sees one area holding the request block at entry and its reply
// at exit: the caller's reply area when the block fits it, a temporary copy
// when the block is longer than a non-empty reply area, or the block itself
// when there is no reply area.
int cPelkLib_Unix::Ioctl_Unix(unsigned int code, const void* in, unsigned int inLen, void* out,
                              unsigned int outLen, unsigned int* count) {
    if (m_fd == -1) {
        return PKERR_NOT_OPEN;
    }
    std::unique_ptr<uint8_t[]> temporary;
    void* area;
    if (outLen > 0 && inLen > outLen) {
        temporary.reset(new (std::nothrow) uint8_t[inLen]);
        if (temporary == nullptr) {
            return PKERR_NO_MEMORY;
        }
        std::memcpy(temporary.get(), in, inLen);
        area = temporary.get();
    } else if (outLen > 0) {
        if (inLen > 0) {
            std::memmove(out, in, inLen);
        }
        area = out;
    } else {
        area = const_cast<void*>(in);
    }

    int result = g_unixSystemCalls.ioctl(m_fd, code, area);
    if (result < 0) {
        int error = errno;
        if (count != nullptr) {
            *count = 0;
        }
        temporary.reset();
        errno = error;
        return PKERR_UNKNOWN;
    }
    if (count != nullptr) {
        *count = static_cast<unsigned int>(result);
    }
    if (temporary != nullptr) {
        unsigned int replyLen =
            static_cast<unsigned int>(result) < outLen ? static_cast<unsigned int>(result) : outLen;
        std::memcpy(out, temporary.get(), replyLen);
    }
    return PKERR_OK;
}

int cPelkLib_Unix::GetError() {
    return errno != 0 ? errno : -1;
}

void cPelkLib_Unix::GetErrorText(int code, char* text, unsigned int size) {
    PelkStatusText(code, text, size);
}

int cPelkLib_Unix::GetWaitHandle() {
    return m_fd;
}

bool cPelkLib_Unix::WaitForEvent(short events, unsigned int timeoutMs) {
    // Passed on as a signed int: a negative value (all ones among them)
    // waits without limit. A poll interrupted by a signal is restarted with
    // the time that is left, so a periodic signal cannot stretch the wait.
    const int limitMs = static_cast<int>(timeoutMs);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    int waitMs = limitMs;
    struct pollfd entry;
    int result;
    for (;;) {
        entry.fd = m_fd;
        entry.events = events;
        entry.revents = 0;
        result = g_unixSystemCalls.poll(&entry, 1, waitMs);
        if (result >= 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
        if (limitMs > 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
    // Linux drivers report the normal-data companion (POLLRDNORM,
    // POLLWRNORM) beside the event; any other event, an error or a hang-up,
    // means not ready.
    const short companion = events == POLLIN ? POLLRDNORM : POLLWRNORM;
    return result > 0 && (entry.revents & ~companion) == events;
}

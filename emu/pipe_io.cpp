// cPelkLib_Emu: the byte-moving primitives on the pipe pair. A message goes
// out in one write of all its parts; what comes in is read into the
// caller's areas, through the object's read-ahead for the first bytes of a
// message.
#include <poll.h>
#include <sys/uio.h>
#include <cerrno>
#include <cstring>

#include <algorithm>
#include <atomic>

#include "emu/dprint.h"
#include "emu/pelklib_emu.h"
#include "emu/sigpipe_guard.h"
#include "emu/system_calls.h"

namespace {

// pwritev2's flag that keeps a write to a pipe without readers from raising
// SIGPIPE (Linux 6.16); older kernels refuse the call before writing.
constexpr int kNoSigpipe = 0x00000100;
std::atomic<bool> s_noSigpipeRefused{false};

// One write of the parts that never raises SIGPIPE: the kernel is asked not
// to; where it does not know how, SIGPIPE is held back around a writev.
ssize_t WriteWithoutSigpipe(int fd, const struct iovec* parts, int count) {
    if (!s_noSigpipeRefused.load(std::memory_order_relaxed)) {
        const ssize_t written = g_emuSystemCalls.pwritev2(fd, parts, count, -1, kNoSigpipe);
        if (written >= 0 ||
            (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL && errno != EPERM)) {
            return written;
        }
        s_noSigpipeRefused.store(true, std::memory_order_relaxed);
    }
    SigpipeGuard guard;
    const ssize_t written = g_emuSystemCalls.writev(fd, parts, count);
    if (written < 0) {
        guard.WriteFailed(errno);
    }
    return written;
}

// Moves the parts past `done` bytes, dropping the parts filled.
void Advance(struct iovec*& parts, int& count, size_t done) {
    while (count > 0 && done >= parts->iov_len) {
        done -= parts->iov_len;
        ++parts;
        --count;
    }
    if (count > 0) {
        parts->iov_base = static_cast<char*>(parts->iov_base) + done;
        parts->iov_len -= done;
    }
}

void ReportReadFailure(ssize_t got) {
    const int error = errno;
    dprint("ReadBuffer: read returned %d, errno %d: %s\n", static_cast<int>(got), error,
           strerror(error));
}

}  // namespace

int cPelkLib_Emu::ReadBuffer(char* buffer, unsigned int length) {
    if (!m_pipes_inuse) {
        dprint("Call to ReadBuffer, while m_pipes_inuse = false\n");
        return PKERR_NOT_OPEN;
    }
    if (InPipe < 0) {
        dprint("cPelkLib_Emu::ReadBuffer called with invalid InPipe \n");
        return PKSTATUS_INVALID_HANDLE;
    }
    struct iovec part = {buffer, length};
    return ReadInto(&part, 1);
}

// The message has begun, so a signal does not cut it short.
int cPelkLib_Emu::ReadInto(struct iovec* parts, int count) {
    Advance(parts, count, 0);
    while (count > 0 && m_ahead_start < m_ahead_end) {
        const size_t piece = std::min<size_t>(parts->iov_len, m_ahead_end - m_ahead_start);
        std::memcpy(parts->iov_base, m_ahead + m_ahead_start, piece);
        m_ahead_start += static_cast<uint32_t>(piece);
        Advance(parts, count, piece);
    }
    if (m_ahead_start == m_ahead_end) {
        m_ahead_start = m_ahead_end = 0;
    }
    while (count > 0) {
        errno = 0;  // so that end of file reports errno 0, not an old value
        const ssize_t got = g_emuSystemCalls.readv(InPipe, parts, count);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ReportReadFailure(got);
            return PKERR_UNKNOWN;
        }
        Advance(parts, count, static_cast<size_t>(got));
    }
    return 0;
}

// Called with nothing read ahead. Each read asks for no more than `most`
// bytes in all, so it never takes a byte of the next message.
int cPelkLib_Emu::ReadAhead(uint32_t least, uint64_t most) {
    const uint32_t room = most < kReadAheadBytes ? static_cast<uint32_t>(most) : kReadAheadBytes;
    while (m_ahead_end < least) {
        errno = 0;
        const ssize_t got =
            g_emuSystemCalls.read(InPipe, m_ahead + m_ahead_end, room - m_ahead_end);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ReportReadFailure(got);
            m_ahead_start = m_ahead_end = 0;
            return PKERR_UNKNOWN;
        }
        m_ahead_end += static_cast<uint32_t>(got);
    }
    return 0;
}

int cPelkLib_Emu::Write(void* buffer, unsigned int length) {
    struct iovec part = {buffer, length};
    return WriteMessage(&part, 1);
}

// A pipe takes a blocking write whole unless a signal cuts it short. A
// signal may stop a message before its first byte; after that the rest is
// written too, so the stream stays in step.
int cPelkLib_Emu::WriteMessage(struct iovec* parts, int count) {
    if (!m_pipes_inuse) {
        dprint("Write: called with m_pipes_inuse = false\n");
        return PKERR_NOT_OPEN;
    }
    if (OutPipe < 0) {
        dprint("cPelkLib_Emu::Write called with invalid OutPipe \n");
        return PKSTATUS_INVALID_HANDLE;
    }
    Advance(parts, count, 0);
    bool begun = false;
    do {
        const ssize_t written = WriteWithoutSigpipe(OutPipe, parts, count);
        if (written < 0 && errno == EINTR && begun) {
            continue;
        }
        if (written <= 0) {
            const int error = errno;
            dprint("Write: write returned %d, errno %d: %s\n", static_cast<int>(written), error,
                   strerror(error));
            return PKERR_UNKNOWN;
        }
        begun = true;
        Advance(parts, count, static_cast<size_t>(written));
    } while (count > 0);
    return 0;
}

int cPelkLib_Emu::WaitForMessage(int timeoutMs, int size, char* buffer) {
    if (!m_pipes_inuse) {
        dprint("WaitForMessage, called with m_pipes_inuse = false\n");
        return PKERR_NOT_OPEN;
    }
    if (InPipe < 0) {
        dprint("WaitForMessage, called with invalid InPipe \n");
        return PKSTATUS_INVALID_HANDLE;
    }
    struct pollfd waiting;
    waiting.fd = InPipe;
    waiting.events = POLLIN;
    waiting.revents = 0;
    int ready = g_emuSystemCalls.poll(&waiting, 1, timeoutMs);
    if (ready == 0) {
        dprint("WaitForMessage: poll timedout was waiting for %d ms\n", timeoutMs);
        return 1;
    }
    if (ready < 0) {
        int error = errno;
        dprint("WaitForMessage: poll returned %d, revents 0x%x, errno %d: %s\n", ready,
               static_cast<int>(waiting.revents), error, strerror(error));
        return error;
    }
    errno = 0;
    ssize_t got = g_emuSystemCalls.read(InPipe, buffer, size < 0 ? 0 : static_cast<size_t>(size));
    if (got <= 0) {
        int error = errno;
        dprint("WaitForMessage, read returned %d, errno %d: %s\n", static_cast<int>(got), error,
               strerror(error));
        return PKERR_UNKNOWN;
    }
    if (got != size) {
        dprint("WaitForMessage, read returned %d, size requested %d\n", static_cast<int>(got),
               size);
        return PKERR_UNKNOWN;
    }
    return 0;
}

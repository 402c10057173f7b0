// Keeps SIGPIPE from killing the process while the library writes to its
// pipes, without touching the process's signal disposition: SIGPIPE is
// blocked in the calling thread for the guard's life, a SIGPIPE raised by
// a write in that time is taken back, one pending before is left pending,
// and the thread's mask is restored. The failing write reports EPIPE.
#ifndef PELK_EMU_SIGPIPE_GUARD_H
#define PELK_EMU_SIGPIPE_GUARD_H

#include <pthread.h>
#include <cerrno>
#include <csignal>
#include <ctime>

class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&m_pipe_signal);
        sigaddset(&m_pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe_signal, &m_previous);
        // While SIGPIPE was not blocked none could be pending for this
        // thread: it would have been delivered. Only look when it was.
        if (sigismember(&m_previous, SIGPIPE) == 1) {
            sigset_t pending;
            sigpending(&pending);
            m_pending_before = sigismember(&pending, SIGPIPE) == 1;
        }
    }
    ~SigpipeGuard() {
        const int error = errno;
        if (m_raised && !m_pending_before) {
            const struct timespec noWait = {0, 0};
            sigtimedwait(&m_pipe_signal, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
        errno = error;
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

    // Call with errno of every failed write made under the guard.
    void WriteFailed(int error) {
        if (error == EPIPE) {
            m_raised = true;
        }
    }

private:
    sigset_t m_pipe_signal;
    sigset_t m_previous;
    bool m_pending_before = false;
    bool m_raised = false;
};

#endif

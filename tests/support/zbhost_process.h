// The real zbhost runtime as a child process, for tests that need the whole
// emulator (ZBHOST_PATH names the program).
#ifndef PELK_TESTS_ZBHOST_PROCESS_H
#define PELK_TESTS_ZBHOST_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "wire/emulator_paths.h"

// zbhost as a child process with the given options; its standard error is
// kept in a memfd.
class Zbhost {
public:
    explicit Zbhost(std::vector<const char*> options = {}) {
        m_stderr = memfd_create("zbhost-stderr", 0);
        options.insert(options.begin(), ZBHOST_PATH);
        options.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(m_stderr, 2);
            execv(ZBHOST_PATH, const_cast<char* const*>(options.data()));
            _exit(127);
        }
    }
    ~Zbhost() {
        if (m_pid > 0) Stop();
        close(m_stderr);
    }
    // Ready once it reads the manager's request pipe (one left by a killed
    // zbhost has no reader).
    bool WaitReady() const {
        return WaitFor([] {
            const int fd = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
            return fd >= 0;
        });
    }
    // Sends a signal and leaves it running (SIGSTOP, SIGCONT).
    void Signal(int signal) const { kill(m_pid, signal); }
    // Stops it and returns once it is stopped.
    bool Pause() const {
        int status = 0;
        return kill(m_pid, SIGSTOP) == 0 && waitpid(m_pid, &status, WUNTRACED) == m_pid &&
               WIFSTOPPED(status);
    }
    // Its resident size in KiB, from /proc.
    long ResidentKib() const {
        char path[64], text[4096];
        std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(m_pid));
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        const ssize_t n = fd >= 0 ? read(fd, text, sizeof text - 1) : -1;
        if (fd >= 0) close(fd);
        text[n > 0 ? n : 0] = '\0';
        const char* rss = std::strstr(text, "VmRSS:");
        return rss != nullptr ? std::atol(rss + 6) : -1;
    }
    // A stopped zbhost is let go on, so that it meets the signal. SIGCONT
    // goes first: sent after, it would cancel the SIGSTOP with which
    // LeakSanitizer's tracer stops an exiting zbhost, and both would wait
    // for ever.
    int Stop(int signal = SIGTERM) {
        kill(m_pid, SIGCONT);
        kill(m_pid, signal);
        return Wait();
    }
    int Wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Its exit status once it has ended by itself, waited for up to 5 s; -1
    // while it still runs (the destructor stops it then).
    int Exited() {
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    std::string Errors() const {
        std::string text(4096, '\0');
        ssize_t n = pread(m_stderr, &text[0], text.size(), 0);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return text;
    }
    // Whether condition held within 5 s; a condition that held once counts,
    // even if it would not hold when asked again.
    static bool WaitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 500; ++i) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    pid_t m_pid = -1;
    int m_stderr = -1;
};

#endif

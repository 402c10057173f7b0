// The real pelkd as a child process (PELKD_PATH names the program), with the
// targets it says it listens on.
#ifndef PELK_TESTS_PELKD_PROCESS_H
#define PELK_TESTS_PELKD_PROCESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

class Pelkd {
public:
    // Starts pelkd with options and waits until it listens (or has exited).
    // environment: "NAME=VALUE" settings added to the test's own.
    explicit Pelkd(std::vector<std::string> options, std::vector<std::string> environment = {}) {
        m_stderr = memfd_create("pelkd-stderr", 0);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            dup2(m_stderr, 2);
            for (std::string& setting : environment) putenv(&setting[0]);
            std::vector<char*> argv{const_cast<char*>(PELKD_PATH)};
            for (std::string& option : options) argv.push_back(&option[0]);
            argv.push_back(nullptr);
            execv(PELKD_PATH, argv.data());
            _exit(127);
        }
        close(out[1]);
        ReadListening(out[0]);
        close(out[0]);
    }
    ~Pelkd() {
        if (m_pid > 0) Stop(SIGKILL);
        close(m_stderr);
    }
    // The targets a client names: "unix:PATH" or "HOST:PORT", in --listen order.
    const std::vector<std::string>& Targets() const { return m_targets; }
    const std::string& Target() const { return m_targets.at(0); }
    pid_t Pid() const { return m_pid; }
    int Stop(int signal = SIGTERM) {
        kill(m_pid, signal);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int signal) const { kill(m_pid, signal); }
    std::string Errors() const {
        std::string text(65536, '\0');
        const ssize_t n = pread(m_stderr, &text[0], text.size(), 0);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return text;
    }

private:
    // Reads "pelkd: listening on ..." lines until pelkd's output pauses
    // after the first of them, or ends.
    void ReadListening(int fd) {
        std::string output;
        char block[1024];
        for (;;) {
            struct pollfd ready = {fd, POLLIN, 0};
            if (poll(&ready, 1, m_targets.empty() ? 20000 : 200) <= 0) break;
            const ssize_t got = read(fd, block, sizeof block);
            if (got <= 0) break;
            output.append(block, static_cast<size_t>(got));
            Parse(output);
        }
    }
    void Parse(const std::string& output) {
        m_targets.clear();
        const std::string mark = "pelkd: listening on ";
        for (size_t at = output.find(mark); at != std::string::npos;
             at = output.find(mark, at + 1)) {
            const size_t start = at + mark.size();
            const size_t end = output.find_first_of(" \n", start);
            if (end == std::string::npos) break;
            const std::string where = output.substr(start, end - start);
            m_targets.push_back(where.compare(0, 4, "tcp:") == 0 ? where.substr(4) : where);
        }
    }

    pid_t m_pid = -1;
    int m_stderr = -1;
    std::vector<std::string> m_targets;
};

#endif

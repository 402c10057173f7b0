// Running test code in a forked child, and a one-byte signal between
// processes.
#ifndef PELK_TESTS_CHILD_PROCESS_H
#define PELK_TESTS_CHILD_PROCESS_H

#include <functional>

#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

// The child runs body and exits with its result, skipping exit handlers.
inline pid_t StartChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// The child's exit code, or -1 when it did not exit normally.
inline int WaitChild(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The user tests play an ordinary other user of the host with.
constexpr uid_t kNobody = 65534;

// Runs body in a child as the user nobody (user and group 65534, no other
// groups); its exit code, 100 when it could not become nobody.
inline int AsNobody(const std::function<int()>& body) {
    return WaitChild(StartChild([&] {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return 100;
        return body();
    }));
}

struct Signal {
    int fds[2] = {-1, -1};
    Signal() { (void)!pipe(fds); }
    ~Signal() { close(fds[0]), close(fds[1]); }
    void Send(char byte = 1) { (void)!write(fds[1], &byte, 1); }
    // The byte sent, or -1 when none came within timeoutMs.
    int Receive(int timeoutMs = 10000) {
        struct pollfd ready = {fds[0], POLLIN, 0};
        char byte;
        bool got = poll(&ready, 1, timeoutMs) == 1 && read(fds[0], &byte, 1) == 1;
        return got ? static_cast<unsigned char>(byte) : -1;
    }
};

#endif

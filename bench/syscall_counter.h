// Counts the system calls one thread or process enters, with the kernel's
// syscall tracepoints through perf_event_open: all of them, and the ones
// named, each on its own counter. Needs a kernel with tracefs and the right
// to trace (root, or perf_event_paranoid low enough); Error() says why not.
#ifndef PELK_BENCH_SYSCALL_COUNTER_H
#define PELK_BENCH_SYSCALL_COUNTER_H

#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

class SyscallCounter {
public:
    // pid 0 counts the calling thread, any other the process of that id
    // (its first thread).
    SyscallCounter(pid_t pid, const std::vector<std::string>& names) {
        m_total = Open(pid, "raw_syscalls/sys_enter");
        for (const std::string& name : names) {
            const int fd = Open(pid, "syscalls/sys_enter_" + name);
            if (fd >= 0) m_named[name] = fd;
        }
    }
    ~SyscallCounter() {
        if (m_total >= 0) close(m_total);
        for (const auto& entry : m_named) close(entry.second);
    }
    SyscallCounter(const SyscallCounter&) = delete;
    SyscallCounter& operator=(const SyscallCounter&) = delete;

    bool Ok() const { return m_total >= 0; }
    const std::string& Error() const { return m_error; }

    void Start() {
        Each(PERF_EVENT_IOC_RESET);
        Each(PERF_EVENT_IOC_ENABLE);
    }
    void Stop() { Each(PERF_EVENT_IOC_DISABLE); }

    uint64_t Total() const { return Value(m_total); }
    // The named calls the kernel has tracepoints for.
    std::map<std::string, uint64_t> ByName() const {
        std::map<std::string, uint64_t> counts;
        for (const auto& entry : m_named) counts[entry.first] = Value(entry.second);
        return counts;
    }

private:
    int Open(pid_t pid, const std::string& event) {
        std::ifstream idFile;
        for (const char* root :
             {"/sys/kernel/tracing/events/", "/sys/kernel/debug/tracing/events/"}) {
            idFile.open(root + event + "/id");
            if (idFile) break;
        }
        unsigned long long id = 0;
        if (!(idFile >> id)) {
            if (m_error.empty()) m_error = "no tracepoint " + event + " (is tracefs mounted?)";
            return -1;
        }
        perf_event_attr attr;
        std::memset(&attr, 0, sizeof attr);
        attr.size = sizeof attr;
        attr.type = PERF_TYPE_TRACEPOINT;
        attr.config = id;
        attr.disabled = 1;
        const int fd = static_cast<int>(
            syscall(SYS_perf_event_open, &attr, pid, -1, -1, PERF_FLAG_FD_CLOEXEC));
        if (fd < 0 && m_error.empty()) {
            m_error = std::string("perf_event_open: ") + std::strerror(errno);
        }
        return fd;
    }
    void Each(unsigned long request) {
        if (m_total >= 0) ioctl(m_total, request, 0);
        for (const auto& entry : m_named) ioctl(entry.second, request, 0);
    }
    static uint64_t Value(int fd) {
        uint64_t value = 0;
        if (fd < 0 || read(fd, &value, sizeof value) != sizeof value) return 0;
        return value;
    }

    int m_total = -1;
    std::map<std::string, int> m_named;
    std::string m_error;
};

#endif

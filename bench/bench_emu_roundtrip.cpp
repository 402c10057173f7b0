// The emulator path against what the pipes themselves can do. The floor is a
// minimal two-process echo over a FIFO pair, written here: the client writes
// the bytes of one message as the library sends it (52-byte frame, 56-byte
// header area, the data) with one write and reads the same number back with
// a read loop; the echo process reads them with a read loop and writes them
// back with one write. The path is a protocol message with one data buffer
// of the same size through cPelkLib_Emu and zbhost's echo board.
//
// Printed, for data of 0, 64 B, 1 KiB, 64 KiB, 1 MiB and 4 MiB:
//  - the median of per-pair ratios (path over floor) over alternating
//    blocks, with their minimum;
//  - system calls per round trip of the client and of zbhost, and of the
//    floor's two processes, counted with the kernel's syscall tracepoints;
//  - zbhost's heap allocations per round trip once warm (zbhost runs with
//    bench/alloc_counter.cpp preloaded);
// then, for 1 KiB and 64 KiB, 1 to 16 client processes at once: total rate,
// the slowest client's rate, p50 and p99 of the round trip, zbhost's CPU
// time, system calls and allocations per round trip; and a captured object
// against an uncaptured one (PELK_CAPTURE) in alternating blocks.
//
// Starts its own zbhost and needs a writable /dev, so run it in the sandbox:
//   tests/support/sandbox.sh build/default/bench/bench_emu_roundtrip
//       [--pairs=N] [--seconds=S] [--json=FILE]
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pelklib.h>

#include "bench/paired_ratio.h"
#include "bench/syscall_counter.h"
#include "wire/emulator_frame.h"
#include "wire/emulator_paths.h"

namespace {

using Clock = std::chrono::steady_clock;

const size_t kSizes[] = {0, 64, 1024, 64 << 10, 1 << 20, 4 << 20};
const size_t kClientSizes[] = {1024, 64 << 10};
const int kClientCounts[] = {1, 2, 4, 8, 16};
// The calls shown one by one; the wait is poll, ppoll or an epoll wait.
const std::vector<std::string> kCallNames = {
    "read",  "readv",      "write",       "writev",    "pwritev2",       "poll",
    "ppoll", "epoll_wait", "epoll_pwait", "epoll_ctl", "rt_sigprocmask", "rt_sigtimedwait"};
const char* const kWaitNames[] = {"poll", "ppoll", "epoll_wait", "epoll_pwait"};

size_t MessageBytes(size_t data) {
    return ZBHOST_SEND_BLOCK_LEN + data;
}

std::string SizeName(size_t bytes) {
    if (bytes >= (1u << 20)) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " B";
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// CPU time a process has run, in microseconds.
double CpuUs(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    file >> ns;
    return ns / 1000;
}

bool ReadExactly(int fd, char* into, size_t length) {
    while (length > 0) {
        const ssize_t got = read(fd, into, length);
        if (got <= 0) return false;
        into += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

bool WriteExactly(int fd, const char* from, size_t length) {
    while (length > 0) {
        const ssize_t put = write(fd, from, length);
        if (put <= 0) return false;
        from += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

// The floor: the echo process and the client's ends of its FIFO pair.
class EchoFloor {
public:
    explicit EchoFloor(size_t data) : m_length(MessageBytes(data)), m_message(m_length, 'f') {
        char dir[] = "/tmp/pelk-echo-XXXXXX";
        if (mkdtemp(dir) == nullptr) return;
        m_dir = dir;
        const std::string toEcho = m_dir + "/in", fromEcho = m_dir + "/out";
        if (mkfifo(toEcho.c_str(), 0600) != 0 || mkfifo(fromEcho.c_str(), 0600) != 0) return;
        m_echo = fork();
        if (m_echo == 0) {
            const int in = open(toEcho.c_str(), O_RDONLY);
            const int out = open(fromEcho.c_str(), O_WRONLY);
            std::vector<char> buffer(m_length);
            while (ReadExactly(in, buffer.data(), m_length) &&
                   write(out, buffer.data(), m_length) == static_cast<ssize_t>(m_length)) {}
            _exit(0);
        }
        m_out = open(toEcho.c_str(), O_WRONLY | O_CLOEXEC);
        m_in = open(fromEcho.c_str(), O_RDONLY | O_CLOEXEC);
        m_answer.resize(m_length);
    }
    ~EchoFloor() {
        if (m_out >= 0) close(m_out);
        if (m_in >= 0) close(m_in);
        if (m_echo > 0) waitpid(m_echo, nullptr, 0);
        if (!m_dir.empty()) {
            unlink((m_dir + "/in").c_str());
            unlink((m_dir + "/out").c_str());
            rmdir(m_dir.c_str());
        }
    }
    bool Ready() const { return m_echo > 0 && m_out >= 0 && m_in >= 0; }
    pid_t Pid() const { return m_echo; }
    bool RoundTrip() {
        return write(m_out, m_message.data(), m_length) == static_cast<ssize_t>(m_length) &&
               ReadExactly(m_in, &m_answer[0], m_length);
    }

private:
    size_t m_length;
    std::string m_message, m_answer;
    std::string m_dir;
    pid_t m_echo = -1;
    int m_out = -1, m_in = -1;
};

// A protocol message with one data buffer (none for 0 bytes) through the
// emulator backend and zbhost's echo board.
class LibraryClient {
public:
    explicit LibraryClient(size_t data, const char* captureFile = nullptr)
        : m_data(data, 'd'), m_received(data, '\0') {
        if (captureFile != nullptr) setenv("PELK_CAPTURE", captureFile, 1);
        m_lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
        unsetenv("PELK_CAPTURE");
        std::memset(&m_header, 0x48, sizeof m_header);
        m_open = m_lib != nullptr && m_lib->Open(PK_MAX_HEADER_LEN, nullptr) == 0;
    }
    ~LibraryClient() { deletePelkLib(m_lib); }
    bool Ready() const { return m_open; }
    bool RoundTrip() {
        void* out[1] = {&m_data[0]};
        void* in[4] = {&m_received[0], nullptr, nullptr, nullptr};
        unsigned int lengths[1] = {static_cast<unsigned int>(m_data.size())};
        const unsigned int buffers = m_data.empty() ? 0 : 1;
        PK_REC_INFO info;
        _PELKOR_MSG_HEADER echoed;
        return m_lib->SendPelkorMessage(&m_header, 0, 0, ++m_tag, buffers, out, lengths) == 0 &&
               m_lib->ReceivePelkorMessage(&info, 5000, &echoed) == 0 && info.tag == m_tag &&
               (buffers == 0 || m_lib->ReceiveBuffers(info.bufLen, in) == 0);
    }
    bool EchoedWhole() const { return m_received == m_data; }

private:
    cPelkLib* m_lib = nullptr;
    bool m_open = false;
    unsigned int m_tag = 0;
    _PELKOR_MSG_HEADER m_header;
    std::string m_data, m_received;
};

// zbhost as a child, its heap allocations counted by the preloaded counter.
class CountedZbhost {
public:
    CountedZbhost() {
        m_counterFd = memfd_create("zbhost-allocations", 0);
        if (m_counterFd < 0 || ftruncate(m_counterFd, sizeof(uint64_t)) != 0) return;
        void* shared =
            mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, m_counterFd, 0);
        if (shared == MAP_FAILED) return;
        m_counter = static_cast<uint64_t*>(shared);
        m_pid = fork();
        if (m_pid == 0) {
            setenv("PELK_ALLOC_COUNTER_FD", std::to_string(m_counterFd).c_str(), 1);
            setenv("LD_PRELOAD", ALLOC_COUNTER_PATH, 1);
            execl(ZBHOST_PATH, ZBHOST_PATH, static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && !Serving(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~CountedZbhost() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_counter != nullptr) munmap(m_counter, sizeof(uint64_t));
        if (m_counterFd >= 0) close(m_counterFd);
    }
    bool Serving() const {
        const int fd = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
        return fd >= 0;
    }
    pid_t Pid() const { return m_pid; }
    uint64_t Allocations() const {
        return m_counter != nullptr ? __atomic_load_n(m_counter, __ATOMIC_RELAXED) : 0;
    }

private:
    pid_t m_pid = -1;
    int m_counterFd = -1;
    uint64_t* m_counter = nullptr;
};

// Calls per round trip, while `rounds` operations run, of this thread and
// of another process.
struct Calls {
    double total = 0;
    double wait = 0;  // poll, ppoll, epoll waits
    std::map<std::string, double> named;
    std::string error;
};

Calls ToCalls(const SyscallCounter& counter, int rounds) {
    Calls calls;
    if (!counter.Ok()) {
        calls.error = counter.Error();
        return calls;
    }
    calls.total = static_cast<double>(counter.Total()) / rounds;
    for (const auto& entry : counter.ByName()) {
        if (entry.second == 0) continue;
        calls.named[entry.first] = static_cast<double>(entry.second) / rounds;
        for (const char* wait : kWaitNames) {
            if (entry.first == wait) calls.wait += calls.named[entry.first];
        }
    }
    return calls;
}

std::string Describe(const Calls& calls) {
    if (!calls.error.empty()) return "n/a (" + calls.error + ")";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", calls.total);
    std::string described = text;
    std::string parts;
    for (const auto& entry : calls.named) {
        std::snprintf(text, sizeof text, "%s%s %.2f", parts.empty() ? "" : ", ",
                      entry.first.c_str(), entry.second);
        parts += text;
    }
    return described + (parts.empty() ? "" : " (" + parts + ")");
}

struct SizeResult {
    size_t size = 0;
    PairedRatio ratio;
    Calls client, zbhost, floorClient, echo;
    double zbhostAllocs = 0;
    bool echoedWhole = false;
};

SizeResult MeasureSize(const CountedZbhost& zbhost, size_t size, int pairs) {
    SizeResult result;
    result.size = size;
    EchoFloor floor(size);
    LibraryClient library(size);
    if (!floor.Ready() || !library.Ready()) {
        result.ratio.failed = true;
        return result;
    }
    result.ratio = MeasurePaired([&] { return library.RoundTrip(); },
                                 [&] { return floor.RoundTrip(); }, pairs);
    result.echoedWhole = library.EchoedWhole();

    // Warm, then counted: calls of both ends, zbhost's allocations.
    const int rounds = static_cast<int>(
        std::max<size_t>(50, std::min<size_t>(2000, (64u << 20) / MessageBytes(size))));
    {
        SyscallCounter client(0, kCallNames), server(zbhost.Pid(), kCallNames);
        const uint64_t allocationsBefore = zbhost.Allocations();
        client.Start();
        server.Start();
        for (int i = 0; i < rounds; ++i) result.ratio.failed |= !library.RoundTrip();
        client.Stop();
        server.Stop();
        result.zbhostAllocs =
            static_cast<double>(zbhost.Allocations() - allocationsBefore) / rounds;
        result.client = ToCalls(client, rounds);
        result.zbhost = ToCalls(server, rounds);
    }
    {
        SyscallCounter client(0, kCallNames), echo(floor.Pid(), kCallNames);
        client.Start();
        echo.Start();
        for (int i = 0; i < rounds; ++i) result.ratio.failed |= !floor.RoundTrip();
        client.Stop();
        echo.Stop();
        result.floorClient = ToCalls(client, rounds);
        result.echo = ToCalls(echo, rounds);
    }
    return result;
}

struct ClientsResult {
    size_t size = 0;
    int clients = 0;
    double totalRate = 0, slowestRate = 0, p50Us = 0, p99Us = 0;
    double zbhostCpuUs = 0, zbhostCalls = 0, zbhostAllocs = 0;
    bool failed = false;
};

// One client process: opens, warms, reports ready, waits for the start,
// runs round trips until the deadline and reports its latencies.
void RunClient(size_t size, int start, int report, Clock::time_point* deadline) {
    LibraryClient library(size);
    bool ok = library.Ready();
    for (int i = 0; ok && i < 50; ++i) ok = library.RoundTrip();
    char byte = ok ? 'r' : 'x';
    if (write(report, &byte, 1) != 1 || !ok) _exit(1);
    if (read(start, deadline, sizeof *deadline) != sizeof *deadline) _exit(1);
    std::vector<float> latencies;
    latencies.reserve(1 << 20);
    for (auto now = Clock::now(); now < *deadline && ok;) {
        ok = library.RoundTrip();
        const auto end = Clock::now();
        latencies.push_back(std::chrono::duration<float, std::micro>(end - now).count());
        now = end;
    }
    const uint64_t count = ok ? latencies.size() : 0;
    if (!WriteExactly(report, reinterpret_cast<const char*>(&count), sizeof count) ||
        !WriteExactly(report, reinterpret_cast<const char*>(latencies.data()),
                      count * sizeof(float))) {
        _exit(1);
    }
    _exit(0);
}

ClientsResult MeasureClients(const CountedZbhost& zbhost, size_t size, int clients,
                             double seconds) {
    ClientsResult result;
    result.size = size;
    result.clients = clients;
    std::vector<pid_t> children;
    std::vector<int> reports, starts;
    for (int c = 0; c < clients; ++c) {
        int start[2], report[2];
        if (pipe(start) != 0 || pipe(report) != 0) return result.failed = true, result;
        const pid_t child = fork();
        if (child == 0) {
            close(start[1]);
            close(report[0]);
            Clock::time_point deadline;
            RunClient(size, start[0], report[1], &deadline);
        }
        close(start[0]);
        close(report[1]);
        children.push_back(child);
        starts.push_back(start[1]);
        reports.push_back(report[0]);
    }
    for (int fd : reports) {
        char byte = 0;
        result.failed |= read(fd, &byte, 1) != 1 || byte != 'r';
    }
    SyscallCounter calls(zbhost.Pid(), {});
    const uint64_t allocationsBefore = zbhost.Allocations();
    const double cpuBefore = CpuUs(zbhost.Pid());
    calls.Start();
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    for (int fd : starts) {
        result.failed |= write(fd, &deadline, sizeof deadline) != sizeof deadline;
        close(fd);
    }
    std::vector<float> all;
    uint64_t total = 0, slowest = UINT64_MAX;
    for (int fd : reports) {
        uint64_t count = 0;
        if (!ReadExactly(fd, reinterpret_cast<char*>(&count), sizeof count) || count == 0) {
            result.failed = true;
        } else {
            const size_t at = all.size();
            all.resize(at + count);
            result.failed |=
                !ReadExactly(fd, reinterpret_cast<char*>(&all[at]), count * sizeof(float));
        }
        total += count;
        slowest = std::min(slowest, count);
        close(fd);
    }
    calls.Stop();
    const double cpu = CpuUs(zbhost.Pid()) - cpuBefore;
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        result.failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    if (total == 0) return result.failed = true, result;
    std::sort(all.begin(), all.end());
    result.totalRate = static_cast<double>(total) / seconds;
    result.slowestRate = static_cast<double>(slowest) / seconds;
    result.p50Us = all[all.size() / 2];
    result.p99Us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    result.zbhostCpuUs = cpu / static_cast<double>(total);
    result.zbhostCalls = calls.Ok() ? static_cast<double>(calls.Total()) / total : -1;
    result.zbhostAllocs =
        static_cast<double>(zbhost.Allocations() - allocationsBefore) / static_cast<double>(total);
    return result;
}

PairedRatio MeasureCaptured(int pairs) {
    char path[] = "/tmp/pelk-bench-capture-XXXXXX";
    close(mkstemp(path));
    LibraryClient plain(1024), captured(1024, path);
    PairedRatio ratio;
    if (plain.Ready() && captured.Ready()) {
        ratio = MeasurePaired([&] { return captured.RoundTrip(); },
                              [&] { return plain.RoundTrip(); }, pairs);
    } else {
        ratio.failed = true;
    }
    unlink(path);
    return ratio;
}

void WriteCalls(FILE* out, const char* name, const Calls& calls) {
    std::fprintf(out, "\"%s\": {\"total\": %.3f, \"wait\": %.3f", name, calls.total, calls.wait);
    for (const auto& entry : calls.named) {
        std::fprintf(out, ", \"%s\": %.3f", entry.first.c_str(), entry.second);
    }
    std::fprintf(out, "%s}", calls.error.empty() ? "" : ", \"unavailable\": 1");
}

void WriteJson(const std::string& path, const std::vector<SizeResult>& sizes,
               const std::vector<ClientsResult>& clients, const PairedRatio& captured,
               const std::string& loadBefore, const std::string& loadAfter) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) return;
    std::fprintf(out, "{\"load_before\": \"%s\", \"load_after\": \"%s\",\n\"sizes\": [\n",
                 loadBefore.c_str(), loadAfter.c_str());
    for (size_t i = 0; i < sizes.size(); ++i) {
        const SizeResult& s = sizes[i];
        std::fprintf(out, " {\"size\": %zu, \"echoed_whole\": %d, \"zbhost_allocs\": %.4f, ",
                     s.size, s.echoedWhole, s.zbhostAllocs);
        std::fprintf(out, "\"ratio\": ");
        WritePairedJson(out, s.ratio);
        std::fprintf(out, ", ");
        WriteCalls(out, "client", s.client);
        std::fprintf(out, ", ");
        WriteCalls(out, "zbhost", s.zbhost);
        std::fprintf(out, ", ");
        WriteCalls(out, "floor_client", s.floorClient);
        std::fprintf(out, ", ");
        WriteCalls(out, "echo", s.echo);
        std::fprintf(out, "}%s\n", i + 1 < sizes.size() ? "," : "");
    }
    std::fprintf(out, "],\n\"clients\": [\n");
    for (size_t i = 0; i < clients.size(); ++i) {
        const ClientsResult& c = clients[i];
        std::fprintf(out,
                     " {\"size\": %zu, \"clients\": %d, \"total_rate\": %.1f, "
                     "\"slowest_rate\": %.1f, \"p50_us\": %.2f, \"p99_us\": %.2f, "
                     "\"zbhost_cpu_us\": %.3f, \"zbhost_syscalls\": %.3f, "
                     "\"zbhost_allocs\": %.4f, \"failed\": %d}%s\n",
                     c.size, c.clients, c.totalRate, c.slowestRate, c.p50Us, c.p99Us, c.zbhostCpuUs,
                     c.zbhostCalls, c.zbhostAllocs, c.failed, i + 1 < clients.size() ? "," : "");
    }
    std::fprintf(out, "],\n\"captured\": ");
    WritePairedJson(out, captured);
    std::fprintf(out, "}\n");
    std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
    int pairs = 11;
    double seconds = 1.0;
    std::string json;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--pairs=", 0) == 0) {
            pairs = std::max(1, std::atoi(arg.c_str() + 8));
        } else if (arg.rfind("--seconds=", 0) == 0) {
            seconds = std::max(0.1, std::atof(arg.c_str() + 10));
        } else if (arg.rfind("--json=", 0) == 0) {
            json = arg.substr(7);
        } else {
            std::fprintf(stderr, "usage: %s [--pairs=N] [--seconds=S] [--json=FILE]\n", argv[0]);
            return 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);  // the floor's ends, should its echo die
    const std::string loadBefore = LoadAverage();
    CountedZbhost zbhost;
    if (!zbhost.Serving()) {
        std::fprintf(stderr, "zbhost did not start (%s)\n", ZBHOST_PATH);
        return 1;
    }
    std::printf("load average before: %s\n\n", loadBefore.c_str());
    std::printf("Round trip over the minimal FIFO echo, median of %d paired ratios (minimum):\n",
                pairs);
    std::printf("| data    | ratio | min   | path us  | floor us | client calls/rt "
                "(not the wait) | zbhost calls/rt | zbhost allocs/rt |\n");
    std::printf("|---------|-------|-------|----------|----------|---------------"
                "---------------|-----------------|------------------|\n");
    std::vector<SizeResult> sizes;
    bool failed = false;
    for (size_t size : kSizes) {
        sizes.push_back(MeasureSize(zbhost, size, pairs));
        const SizeResult& s = sizes.back();
        failed |= s.ratio.failed || !s.echoedWhole;
        std::printf("| %-7s | %5.2f | %5.2f | %8.2f | %8.2f | %6.2f (%5.2f)               "
                    "| %15.2f | %16.3f |\n",
                    SizeName(size).c_str(), s.ratio.median, s.ratio.minimum, s.ratio.pathUs,
                    s.ratio.floorUs, s.client.total, s.client.total - s.client.wait, s.zbhost.total,
                    s.zbhostAllocs);
        std::fflush(stdout);
    }
    std::printf("\nSystem calls per round trip, by name:\n");
    for (const SizeResult& s : sizes) {
        std::printf("  %-7s client %s\n          zbhost %s\n          floor client %s, echo %s\n",
                    SizeName(s.size).c_str(), Describe(s.client).c_str(),
                    Describe(s.zbhost).c_str(), Describe(s.floorClient).c_str(),
                    Describe(s.echo).c_str());
    }

    std::printf("\nClient processes at once (%.1f s each):\n", seconds);
    std::printf("| data   | clients | total rt/s | slowest rt/s | p50 us  | p99 us  "
                "| zbhost CPU us/rt | zbhost calls/rt | zbhost allocs/rt |\n");
    std::printf("|--------|---------|------------|--------------|---------|---------"
                "|------------------|-----------------|------------------|\n");
    std::vector<ClientsResult> clients;
    for (size_t size : kClientSizes) {
        for (int count : kClientCounts) {
            clients.push_back(MeasureClients(zbhost, size, count, seconds));
            const ClientsResult& c = clients.back();
            failed |= c.failed;
            std::printf("| %-6s | %7d | %10.0f | %12.0f | %7.1f | %7.1f | %16.2f | %15.2f "
                        "| %16.3f |\n",
                        SizeName(size).c_str(), count, c.totalRate, c.slowestRate, c.p50Us, c.p99Us,
                        c.zbhostCpuUs, c.zbhostCalls, c.zbhostAllocs);
            std::fflush(stdout);
        }
    }
    for (size_t size : kClientSizes) {
        double one = 0, sixteen = 0;
        for (const ClientsResult& c : clients) {
            if (c.size == size && c.clients == 1) one = c.zbhostCpuUs;
            if (c.size == size && c.clients == 16) sixteen = c.zbhostCpuUs;
        }
        std::printf("zbhost CPU per round trip, %s: 16 clients %.2fx 1 client\n",
                    SizeName(size).c_str(), one > 0 ? sixteen / one : 0);
    }

    const PairedRatio captured = MeasureCaptured(pairs);
    failed |= captured.failed;
    std::printf("\nCaptured over uncaptured (1 KiB), median of %d paired ratios: %.2f "
                "(minimum %.2f; %.2f us against %.2f us)\n",
                pairs, captured.median, captured.minimum, captured.pathUs, captured.floorUs);
    const std::string loadAfter = LoadAverage();
    std::printf("load average after: %s\n", loadAfter.c_str());
    if (!json.empty()) WriteJson(json, sizes, clients, captured, loadBefore, loadAfter);
    if (failed) std::printf("SOME ROUND TRIPS FAILED\n");
    return failed ? 1 : 0;
}

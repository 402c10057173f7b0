// Kernel-driver backend under driver faults: each request of a round trip
// failing in turn, a periodic signal during waits, and a process descriptor
// limit.
// Heap blocks left behind are reported by LeakSanitizer in the asan build.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

// Open descriptors of this process (the listing's own one among them).
int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    int open = 0;
    while (dir != nullptr && readdir(dir) != nullptr) ++open;
    if (dir != nullptr) closedir(dir);
    return open;
}

// One protocol message with two data buffers sent through the loopback
// driver and received back: the six requests are three sends, the message
// start and two buffer parts. Stops at the first failing step, as a caller
// would, and returns its status.
int RoundTrip(cPelkLib_Unix& lib, unsigned int tag) {
    std::vector<uint8_t> out1(100, static_cast<uint8_t>(tag)), out2(30, 0x5A);
    void* outBuffers[2] = {out1.data(), out2.data()};
    unsigned int outLengths[2] = {100, 30};
    _PELKOR_MSG_HEADER header = {tag, 2, {}, 3, 1, {tag + 7}};
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER received;
    int status = lib.SendPelkorMessage(&header, 5, 6, tag, 2, outBuffers, outLengths);
    if (status == 0) status = lib.ReceivePelkorMessage(&info, 0, &received);
    if (status != 0) return status;
    std::vector<uint8_t> in1(info.bufLen[0]), in2(info.bufLen[1]);
    void* inBuffers[4] = {in1.data(), in2.data()};
    status = lib.ReceiveBuffers(info.bufLen, inBuffers);
    if (status == 0) {
        EXPECT_EQ(info.tag, tag);
        EXPECT_EQ(received.params[0], tag + 7);
        EXPECT_TRUE(in1 == out1 && in2 == out2);
    }
    return status;
}

TEST(DriverFaults, EachFailedRequestOfARoundTripIsReportedAndRecovered) {
    const int before = OpenDescriptors();
    SimDriver sim;
    sim.loopback = true;
    int failed = 0;
    for (int n = 1; n == failed + 1; ++n) {
        SCOPED_TRACE(n);
        {
            cPelkLib_Unix lib;
            ASSERT_EQ(lib.Open(0, nullptr), 0);
            int seen = 0;  // fails the nth driver request with EINVAL
            sim.answer = [&](unsigned long, uint8_t*, int* result) {
                if (++seen != n) return false;
                errno = EINVAL;
                *result = -1;
                return true;
            };
            const int status = RoundTrip(lib, n);
            sim.answer = nullptr;
            if (seen >= n) {
                ++failed;
                EXPECT_EQ(status, -1);
                EXPECT_EQ(lib.GetError(), EINVAL);
            } else {
                EXPECT_EQ(status, 0);
            }
            // The object is idle after every failure: what the failure left
            // queued is received and dropped, then a whole round trip works.
            PK_REC_INFO info;
            _PELKOR_MSG_HEADER header;
            for (int left = 8, drained = 0; left > 0 && drained != -2; --left) {
                drained = lib.ReceivePelkorMessage(&info, 0, &header);
                EXPECT_NE(drained, -8);
                lib.FlushMessageBuffers();
            }
            EXPECT_EQ(RoundTrip(lib, 1000 + n), 0);
        }
        EXPECT_TRUE(sim.openFds.empty());
    }
    EXPECT_EQ(failed, 6);  // the three sends, the start and two parts each failed once
    EXPECT_EQ(OpenDescriptors(), before);
}

// A 100 ms interval timer whose handler (installed without SA_RESTART)
// counts its signals and stops the timer after kMaxTicks of them.
constexpr int kMaxTicks = 20;
volatile sig_atomic_t s_ticks = 0;

void SetTimer(long intervalUs) {
    itimerval timer = {{0, intervalUs}, {0, intervalUs}};
    setitimer(ITIMER_REAL, &timer, nullptr);
}

TEST(DriverFaults, PeriodicSignalDoesNotStretchATimedWait) {
    SimDriver sim;
    sim.pollSleeps = true;
    sim.readyEvents = 0;  // a released board never becomes ready
    cPelkLib_Unix lib;
    ASSERT_EQ(lib.Open(0, nullptr), 0);
    struct sigaction action = {}, saved;
    action.sa_handler = [](int) {
        if (++s_ticks == kMaxTicks) SetTimer(0);
    };
    sigaction(SIGALRM, &action, &saved);
    PK_REC_INFO info;
    unsigned int length = 0;
    for (bool receive : {true, false}) {
        s_ticks = 0;
        SetTimer(100000);
        EXPECT_EQ(receive ? lib.ReceiveMessage(&info, 300, 56, nullptr, &length)
                          : lib.LiftBoardReset(1, 300),
                  -2);
        // Restarted with the time left, the wait ends after about three
        // ticks; restarted with the full time, only once the timer stopped.
        EXPECT_LT(s_ticks, kMaxTicks) << receive;
        SetTimer(0);
        EXPECT_LT(sim.pollTimeouts.back(), 300) << receive;
    }
    sigaction(SIGALRM, &saved, nullptr);
}

// Opens the device with the real system calls in a child process whose
// descriptor limit is `limit`; with `exhaust` every descriptor below the
// limit is taken while Open runs. Gives Open's status, the wait handle, and
// whether the process holds as many descriptors afterwards as before.
struct LimitedOpen {
    int status = -99;
    int waitHandle = -99;
    bool sameDescriptors = false;
};

LimitedOpen OpenUnderLimit(rlim_t limit, bool exhaust) {
    int channel[2];
    EXPECT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    LimitedOpen result;
    if (child == 0) {
        const rlimit rl = {limit, limit};
        if (setrlimit(RLIMIT_NOFILE, &rl) == 0) {
            int spare = -1;
            for (int fd; exhaust && (fd = open("/dev/null", O_RDONLY)) != -1;) spare = fd;
            if (exhaust) close(spare);  // room for the listing only
            const int before = OpenDescriptors();
            if (exhaust) spare = open("/dev/null", O_RDONLY);
            {
                cPelkLib_Unix lib;
                result.status = lib.Open(0, &result.waitHandle);
                result.waitHandle = lib.GetWaitHandle();
            }
            if (exhaust) close(spare);
            result.sameDescriptors = OpenDescriptors() == before;
        }
        _exit(write(channel[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    close(channel[1]);
    EXPECT_EQ(read(channel[0], &result, sizeof result), static_cast<ssize_t>(sizeof result));
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return result;
}

TEST(DriverFaults, DescriptorLimitFailsOpenWithItsErrorAndLeaksNothing) {
    // A plain file stands in for the device node in the sandbox's own /dev.
    const int node = open("/dev/zb5t", O_CREAT | O_RDWR, 0600);
    ASSERT_NE(node, -1) << strerror(errno);
    close(node);
    const struct {
        rlim_t limit;
        bool exhaust;
        int status;
    } cases[] = {{300, false, 0},        // room for the descriptor at 256 or above
                 {256, false, EINVAL},   // none at 256 or above
                 {64, true, EMFILE}};    // the device itself cannot be opened
    for (const auto& c : cases) {
        const LimitedOpen opened = OpenUnderLimit(c.limit, c.exhaust);
        EXPECT_EQ(opened.status, c.status) << c.limit;
        EXPECT_TRUE(c.status == 0 ? opened.waitHandle >= 256 : opened.waitHandle == -1) << c.limit;
        EXPECT_TRUE(opened.sameDescriptors) << c.limit;
    }
    unlink("/dev/zb5t");
}

}  // namespace

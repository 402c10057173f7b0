// Kernel-driver backend under driver faults: each request of a round trip
// failing in turn, and a periodic signal during waits.
// Heap blocks left behind are reported by LeakSanitizer in the asan build.
#include <signal.h>
#include <sys/time.h>
#include <algorithm>
#include <cerrno>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

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
    SimDriver sim;
    sim.loopback = true;
    cPelkLib_Unix lib;
    ASSERT_EQ(lib.Open(0, nullptr), 0);
    int failed = 0;
    for (int n = 1; n == failed + 1; ++n) {
        SCOPED_TRACE(n);
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
    EXPECT_EQ(failed, 6);  // the three sends, the start and two parts each failed once
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
        sim.pollTimeouts.clear();
        SetTimer(100000);
        EXPECT_EQ(receive ? lib.ReceiveMessage(&info, 300, 56, nullptr, &length)
                          : lib.LiftBoardReset(1, 300),
                  -2);
        // The wait ends after about three ticks, each restart asking only for
        // the time left.
        EXPECT_LT(s_ticks, kMaxTicks) << receive;
        SetTimer(0);
        ASSERT_GT(sim.pollTimeouts.size(), 2u) << receive;
        EXPECT_TRUE(std::all_of(sim.pollTimeouts.begin() + 1, sim.pollTimeouts.end(), [](int ms) {
            return ms < 300;
        })) << receive;
    }
    sigaction(SIGALRM, &saved, nullptr);
}

}  // namespace

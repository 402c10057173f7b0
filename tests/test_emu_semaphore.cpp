// The host-wide handshake semaphore: first initialisation by the set's
// creator or, if it died first, by a waiter; identifier 0 accepted.
#include <sys/sem.h>
#include <sys/time.h>

#include <chrono>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "support/child_process.h"
#include "support/emu_runtime_side.h"

namespace {

int SemaphoreValue() {
    return semctl(SemaphoreSet(), 0, GETVAL);
}

// Both run in children so that each starts with the process-wide state unset.
TEST(EmuSemaphore, FirstProcessCreatesMarkerAndSetsOne) {
    std::string report = InChild([] {
        StdoutCapture out;
        std::string r = std::to_string(LockSemaphore());
        r += " " + std::to_string(UnlockSemaphore());
        umask(077);
        r += " get " + std::to_string(GetSemaphore());
        struct stat marker;
        r += stat(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str(), &marker) == 0 &&
                     (marker.st_mode & 0777) == 0666
                 ? " mode 666"
                 : " bad mode";
        r += " value " + std::to_string(SemaphoreValue());
        // The set is the namespace's first, identifier 0: it must work.
        r += " lock " + std::to_string(LockSemaphore());
        r += " value " + std::to_string(SemaphoreValue());
        r += " unlock " + std::to_string(UnlockSemaphore());
        unlink(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str());
        r += " again " + std::to_string(GetSemaphore());
        r += access(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str(), F_OK) == 0 ? " remade" : " untouched";
        return r + "\n" + out.Take();
    });
    EXPECT_EQ(report, "-1 -1 get 0 mode 666 value 1 lock 0 value 0 unlock 0 again 0 untouched\n"
                      "LockSemaphore called with sema_created = false\n"
                      "UnlockSemaphore called with sema_created = false\n");
    EXPECT_EQ(semget(ftok("/dev/null", 0), 1, 0), -1);  // namespace-private sets only
}

// A value is kept, except 0 on a set never taken: its creator died before
// giving it one, and a waiter gives it 1 after a second.
TEST(EmuSemaphore, ExistingSetKeepsItsValueUnlessItNeverGotOne) {
    close(open(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str(), O_RDWR | O_CREAT, 0666));
    for (int value : {5, 0}) {
        semctl(SemaphoreSet(), 0, IPC_RMID);
        int set = semget(ftok(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str(), 0), 1, IPC_CREAT | 0666);
        ASSERT_GE(set, 0);
        ASSERT_EQ(semctl(set, 0, SETVAL, value), 0);
        std::string report = InChild([] {
            alarm(20);
            std::string r = std::to_string(GetSemaphore()) + " " + std::to_string(SemaphoreValue());
            return r + " lock " + std::to_string(LockSemaphore());
        });
        EXPECT_EQ(report, "0 " + std::to_string(value) + " lock 0");
    }
}

// A turn held for longer than the wait's one-second slices stays held, and
// a signal arriving in a slice does not end the wait: the waiter gets the
// turn only when the holder gives it back.
TEST(EmuSemaphore, HeldTurnOutlastsSlicesAndSignals) {
    Signal holding;
    const pid_t holder = StartChild([&] {
        GetSemaphore();
        LockSemaphore();
        holding.Send();
        sleep(3);
        return UnlockSemaphore();
    });
    ASSERT_EQ(holding.Receive(), 1);
    std::string report = InChild([] {
        struct sigaction tick = {};
        tick.sa_handler = [](int) {};
        sigaction(SIGALRM, &tick, nullptr);
        const itimerval every = {{1, 500000}, {1, 500000}};  // between the slices' ends
        setitimer(ITIMER_REAL, &every, nullptr);
        const auto start = std::chrono::steady_clock::now();
        GetSemaphore();
        const int status = LockSemaphore();
        const auto waited = std::chrono::steady_clock::now() - start;
        return std::to_string(status) + (waited > std::chrono::milliseconds(1500)
                                             ? " after the holder"
                                             : " while it held the turn");
    });
    EXPECT_EQ(report, "0 after the holder");
    EXPECT_EQ(WaitChild(holder), 0);
}

}  // namespace

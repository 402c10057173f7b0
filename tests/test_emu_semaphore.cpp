// The host-wide handshake semaphore: first initialisation by the set's
// creator or, if it died first, by a waiter; identifier 0 accepted.
#include <sys/sem.h>

#include <gtest/gtest.h>

#include <pelklib.h>

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
        r += stat(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str(), &marker) == 0 && (marker.st_mode & 0777) == 0666
                 ? " mode 666" : " bad mode";
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
    EXPECT_EQ(report,
              "-1 -1 get 0 mode 666 value 1 lock 0 value 0 unlock 0 again 0 untouched\n"
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

}  // namespace

// Faults around the emulator backend: the handshake semaphore removed, /dev
// not writable, signals and a refused frame inside the stream through the
// real runtime, and the runtime killed in the handshake.
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/time.h>

#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "support/emu_runtime_side.h"
#include "support/pair_open_delay.h"
#include "support/zbhost_process.h"

namespace {

// Each case in a child of its own: fresh process-wide semaphore state, and
// alarm() turns a hang into a failure.
TEST(EmuFaults, SemaphoreSetRemoved) {
    std::string waiting = InChild([] {
        alarm(20);
        StdoutCapture out;
        std::string r = std::to_string(GetSemaphore());
        r += " " + std::to_string(LockSemaphore());
        int waiterStatus = 1;
        std::thread waiter([&] { waiterStatus = LockSemaphore(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        semctl(SemaphoreSet(), 0, IPC_RMID);
        waiter.join();
        r += " waiter " + std::to_string(waiterStatus);
        // The set is obtained anew, starting free.
        r += " again " + std::to_string(GetSemaphore());
        r += " " + std::to_string(LockSemaphore());
        r += " " + std::to_string(UnlockSemaphore());
        return r + "\n" + out.Take();
    });
    EXPECT_EQ(waiting, "0 0 waiter -1 again 0 0 0\n"
                       "LockSemaphore, semop returned -1, errno 43: Identifier removed\n");

    std::string before = InChild([] {
        alarm(20);
        StdoutCapture out;
        std::string r = std::to_string(GetSemaphore());
        semctl(SemaphoreSet(), 0, IPC_RMID);
        cPelkLib_Emu lib;
        r += " open " + std::to_string(lib.Open(0, nullptr));
        return r + "\n" + out.Take();
    });
    EXPECT_EQ(before, "0 open -1\n"
                      "LockSemaphore, semop returned -1, errno 22: Invalid argument\n");

    // Another process, with the marker still in place, finds a usable set.
    std::string next = InChild([] {
        alarm(20);
        std::string r = std::to_string(GetSemaphore());
        return r + " " + std::to_string(LockSemaphore());
    });
    EXPECT_EQ(next, "0 0");
}

// A runtime that dies between reading the request and replying, while its
// reply pipe stays open elsewhere: Open sees the lock released and stops.
TEST(EmuFaults, RuntimeGoneBeforeItsReply) {
    RuntimeSide side;
    std::string report = InChild([] {
        alarm(5);
        const int lock = open(EmuPath(ZBHOST_LOCK_NAME).c_str(), O_RDWR | O_CREAT, 0644);
        flock(lock, LOCK_EX);
        int reply = -1;
        std::thread runtime([&] {
            reply = open(EmuPath(ZBHOST_MANAGER_OUT_NAME).c_str(), O_WRONLY);
            const int request = open(EmuPath(ZBHOST_MANAGER_IN_NAME).c_str(), O_RDONLY);
            char word[4];
            (void)!read(request, word, sizeof word);
            close(lock);
        });
        StdoutCapture out;
        cPelkLib_Emu lib;
        const std::string r = std::to_string(lib.Open(0, nullptr));
        runtime.join();
        close(reply);
        return r + "\n" + out.Take();
    });
    EXPECT_EQ(report, "-12\n"
                      "DeterminePipe, read from manager returned -1, errno 3: No such process\n");
}

TEST(EmuFaults, DevNotWritable) {
    unlink(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str());
    std::string report = InChild([] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("readonly", "/dev", "tmpfs", MS_RDONLY, nullptr) != 0) {
            return std::string("no read-only /dev: ") + strerror(errno);
        }
        StdoutCapture out;
        cPelkLib_Emu lib;
        std::string r = "open " + std::to_string(lib.Open(0, nullptr));
        return r + "\n" + out.Take();
    });
    EXPECT_EQ(report, "open -1\n"
                      "DeterminePipe: error, ftok errno 2: No such file or directory\n"
                      "Open: /dev/ZBHostSemaphore does not exist and cannot be made: cannot open "
                      "/dev/ZBHostSemaphore: Read-only file system\n");
}

// Through the real runtime: a signal arriving every 200 us (without
// SA_RESTART) in the middle of 4 MiB messages leaves the stream in step.
// Then the runtime killed between its reply and the opening of the pair, and
// one killed before Open: -12 soon, not after the handshake's time limit,
// and the next runtime serves the next Open. Last: the tests above fork
// children that must start without the process-wide semaphore state this
// one sets.
TEST(EmuFaults, ThroughZbhost) {
    auto zbhost = std::make_unique<Zbhost>();
    ASSERT_TRUE(zbhost->WaitReady());
    cPelkLib_Emu lib;
    ASSERT_EQ(lib.Open(0, nullptr), 0);
    PK_REC_INFO info;
    char header[56];
    unsigned int headerLen = 0;
    PK_SEND_INFO send = {1, 0, 0, 2, 3, 0};
    struct sigaction tick = {};
    tick.sa_handler = [](int) {};
    sigaction(SIGALRM, &tick, nullptr);
    itimerval every = {{0, 200}, {0, 200}};
    setitimer(ITIMER_REAL, &every, nullptr);
    std::string big(4 << 20, 'b'), back(4 << 20, '.');
    void* bigOut[1] = {&big[0]};
    void* bigIn[1] = {&back[0]};
    unsigned int bigLen[1] = {static_cast<unsigned int>(big.size())};
    for (unsigned int round = 0; round < 3; ++round) {
        big[round * 1000] = static_cast<char>('0' + round);
        send.tag = 100 + round;
        ASSERT_EQ(lib.SendMessage(&send, "hdr", 3, 1, bigOut, bigLen), 0);
        // Only the wait for the start of an answer may be cut short.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        StdoutCapture interrupted;
        int status;
        while ((status = lib.ReceiveMessage(&info, 5000, sizeof header, header, &headerLen)) ==
                   EINTR &&
               std::chrono::steady_clock::now() < until) {}
        interrupted.Take();
        ASSERT_EQ(status, 0);
        EXPECT_EQ(info.tag, 100 + round);
        ASSERT_EQ(lib.ReceiveBuffers(info.bufLen, bigIn), 0);
        EXPECT_TRUE(back == big) << "round " << round;
    }
    every = {};
    setitimer(ITIMER_REAL, &every, nullptr);
    signal(SIGALRM, SIG_DFL);

    auto delay = std::make_unique<PairOpenDelay>(300);
    cPelkLib_Emu late;
    int status = 1;
    StdoutCapture killed;
    const auto start = std::chrono::steady_clock::now();
    std::thread opener([&] { status = late.Open(0, nullptr); });
    ASSERT_TRUE(Zbhost::WaitFor([] { return access("/dev/ZBHostIn0001", F_OK) == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(zbhost->Stop(SIGKILL), 128 + SIGKILL);
    opener.join();
    delay.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(status, PKERR_NOT_OPEN);
    EXPECT_EQ(late.Open(0, nullptr), PKERR_NOT_OPEN);
    EXPECT_EQ(killed.Take(), "AttachPipes trying to open Out pipe 1, open returned -1, errno 6: "
                             "No such device or address\n"
                             "Open: no runtime alive, nobody holds /dev/ZBHostManager.lock: "
                             "start zbhost in /dev (PELK_EMULATOR_DIR=/dev zbhost), or set "
                             "PELK_EMULATOR_DIR to the directory zbhost serves\n");

    zbhost = std::make_unique<Zbhost>();
    ASSERT_TRUE(zbhost->WaitReady());
    ASSERT_EQ(late.Open(0, nullptr), 0);
    send.tag = 5;
    ASSERT_EQ(late.SendMessage(&send, "header", 6, 0, nullptr, nullptr), 0);
    ASSERT_EQ(late.ReceiveMessage(&info, 5000, sizeof header, header, &headerLen), 0);
    EXPECT_EQ(std::string(header, headerLen), "header");
    EXPECT_EQ(info.tag, 5u);
}

}  // namespace

// Faults around the emulator backend: the runtime dying in the middle of a
// message, the handshake semaphore removed, /dev not writable.
#include <sched.h>
#include <sys/mount.h>
#include <sys/sem.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "support/child_process.h"
#include "support/emu_runtime_side.h"
#include "support/zbhost_process.h"

namespace {

// The calling thread's blocked signals, as text.
std::string BlockedSignals() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    std::string blocked;
    for (int signal = 1; signal < SIGRTMAX; ++signal) {
        if (sigismember(&mask, signal) == 1) blocked += std::to_string(signal) + " ";
    }
    return blocked;
}

// A runtime in a child process: it answers the handshake with `number`, then
// plays `script` on the pair's ends (from the library, to the library) and
// dies by SIGKILL.
pid_t DyingRuntime(RuntimeSide& side, int number,
                   const std::function<void(int, int)>& script) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        side.Serve(number);
        side.Join();
        script(side.fromLibrary, side.toLibrary);
        raise(SIGKILL);
    }
    return child;
}

int SemaphoreSet() {
    return semget(ftok(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str(), 0), 1, 0);
}

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
    EXPECT_EQ(waiting,
              "0 0 waiter -1 again 0 0 0\n"
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
    EXPECT_EQ(before,
              "0 open -1\n"
              "LockSemaphore, semop returned -1, errno 22: Invalid argument\n");

    // Another process, with the marker still in place, finds a usable set.
    std::string next = InChild([] {
        alarm(20);
        std::string r = std::to_string(GetSemaphore());
        return r + " " + std::to_string(LockSemaphore());
    });
    EXPECT_EQ(next, "0 0");
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
    EXPECT_EQ(report,
              "open -1\n"
              "DeterminePipe: error, ftok errno 2: No such file or directory\n");
}

// Last: the tests above fork children that must start without the
// process-wide semaphore state this one sets.
TEST(EmuFaults, RuntimeKilledMidMessage) {
    signal(SIGPIPE, SIG_DFL);  // a stray SIGPIPE would end this test program
    sigset_t blockUsr1;
    sigemptyset(&blockUsr1);
    sigaddset(&blockUsr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blockUsr1, nullptr);  // a mask the library must keep
    const std::string maskBefore = BlockedSignals();
    PK_REC_INFO info;
    char header[56];
    unsigned int headerLen = 0;
    auto side = std::make_unique<RuntimeSide>();

    {   // dies after 10 of 40 header bytes
        cPelkLib_Emu lib;
        pid_t runtime = DyingRuntime(*side, 1, [](int, int to) {
            WriteAll(to, FrameBytes(RuntimeFrame(1, 40), std::string(10, 'h')));
        });
        ASSERT_EQ(lib.Open(0, nullptr), 0);
        StdoutCapture out;
        EXPECT_EQ(lib.ReceiveMessage(&info, 5000, sizeof header, header, &headerLen),
                  PKERR_BAD_MESSAGE);
        EXPECT_EQ(out.Take(),
                  "ReadBuffer: read returned 0, errno 0: Success\n"
                  "ReceiveMessage: Failed to receive message header buffer\n");
        EXPECT_EQ(WaitChild(runtime), -1);
    }
    {   // dies after 30 of 100 bytes of a data buffer
        cPelkLib_Emu lib;
        pid_t runtime = DyingRuntime(*side, 2, [](int, int to) {
            WriteAll(to, FrameBytes(RuntimeFrame(2, 8, {100}), std::string(8, 'h') + std::string(30, 'd')));
        });
        ASSERT_EQ(lib.Open(0, nullptr), 0);
        StdoutCapture out;
        ASSERT_EQ(lib.ReceiveMessage(&info, 5000, sizeof header, header, &headerLen), 0);
        ASSERT_EQ(info.bufLen[0], 100u);
        char data[100];
        void* buffers[4] = {data};
        EXPECT_EQ(lib.ReceiveBuffers(info.bufLen, buffers), PKERR_UNKNOWN);
        EXPECT_EQ(lib.FlushMessageBuffers(), 0);  // nothing left pending
        EXPECT_EQ(out.Take(),
                  "ReadBuffer: read returned 0, errno 0: Success\n"
                  "ReadBuffer FAILED, error -1\n");
        EXPECT_EQ(WaitChild(runtime), -1);
    }
    {   // dies while the library writes a data buffer larger than the pipe
        cPelkLib_Emu lib;
        pid_t runtime = DyingRuntime(*side, 3, [](int from, int) {
            char block[4096];
            for (size_t got = 0; got < ZBHOST_SEND_BLOCK_LEN + 1000;) {
                ssize_t n = read(from, block, std::min<size_t>(sizeof block, 1000));
                if (n <= 0) break;
                got += static_cast<size_t>(n);
            }
        });
        ASSERT_EQ(lib.Open(0, nullptr), 0);
        std::string data(1 << 20, 'd');
        void* buffers[1] = {&data[0]};
        unsigned int lengths[1] = {static_cast<unsigned int>(data.size())};
        PK_SEND_INFO send = {1, 0, 0, 2, 3, 4};
        StdoutCapture out;
        EXPECT_EQ(lib.SendMessage(&send, "hdr", 3, 1, buffers, lengths), PKERR_UNKNOWN);
        EXPECT_EQ(out.Take(), "Write: write returned -1, errno 32: Broken pipe\n");
        EXPECT_EQ(WaitChild(runtime), -1);
        sigset_t pending;
        sigpending(&pending);
        EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    }
    EXPECT_EQ(BlockedSignals(), maskBefore);

    pthread_sigmask(SIG_UNBLOCK, &blockUsr1, nullptr);
}

// Through the real runtime: a refused message and a data buffer never
// fetched leave the stream in step, and so does a signal arriving every
// 200 us (without SA_RESTART) in the middle of 4 MiB messages. Then the
// runtime killed between its reply and the opening of the pair, and one
// killed before Open: -12 soon, not after the handshake's time limit, and
// the next runtime serves the next Open.
TEST(EmuFaults, ThroughZbhost) {
    auto zbhost = std::make_unique<Zbhost>();
    ASSERT_TRUE(zbhost->WaitReady());
    cPelkLib_Emu lib;
    ASSERT_EQ(lib.Open(0, nullptr), 0);
    PK_REC_INFO info;
    char header[56];
    unsigned int headerLen = 0;
    auto receive = [&] { return lib.ReceiveMessage(&info, 5000, sizeof header, header, &headerLen); };
    std::string data(64, 'd');
    void* buffers[1] = {&data[0]};
    unsigned int lengths[1] = {64};
    PK_SEND_INFO send = {1, 0, 0, 2, 3, 0};
    StdoutCapture out;
    ASSERT_EQ(lib.SendMessage(&send, nullptr, 0, 1, buffers, lengths), 0);
    EXPECT_EQ(receive(), PKERR_BAD_MESSAGE);
    EXPECT_EQ(lib.FlushMessageBuffers(), 0);
    EXPECT_EQ(out.Take(), "ReceiveMessage: Buflen[0]=0, should be msg header\n");
    for (unsigned int tag = 1; tag <= 3; ++tag) {  // the 2nd's buffer is not fetched
        send.tag = tag;
        ASSERT_EQ(lib.SendMessage(&send, "hdr", 3, tag == 2 ? 1 : 0, buffers, lengths), 0);
        ASSERT_EQ(receive(), 0);
        EXPECT_EQ(info.tag, tag);
    }

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
        while ((status = receive()) == EINTR && std::chrono::steady_clock::now() < until) {
        }
        interrupted.Take();
        ASSERT_EQ(status, 0);
        EXPECT_EQ(info.tag, 100 + round);
        ASSERT_EQ(lib.ReceiveBuffers(info.bufLen, bigIn), 0);
        EXPECT_TRUE(back == big) << "round " << round;
    }
    every = {};
    setitimer(ITIMER_REAL, &every, nullptr);
    signal(SIGALRM, SIG_DFL);

    setenv("PELK_EMU_TEST_PAIR_DELAY_MS", "300", 1);
    cPelkLib_Emu late;
    int status = 1;
    StdoutCapture killed;
    const auto start = std::chrono::steady_clock::now();
    std::thread opener([&] { status = late.Open(0, nullptr); });
    ASSERT_TRUE(Zbhost::WaitFor([] { return access("/dev/ZBHostIn0001", F_OK) == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(zbhost->Stop(SIGKILL), 128 + SIGKILL);
    opener.join();
    unsetenv("PELK_EMU_TEST_PAIR_DELAY_MS");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(status, PKERR_NOT_OPEN);
    EXPECT_EQ(late.Open(0, nullptr), PKERR_NOT_OPEN);
    EXPECT_EQ(killed.Take(),
              "AttachPipes trying to open Out pipe 1, open returned -1, errno 6: "
              "No such device or address\n"
              "Open: no runtime alive, nobody holds /dev/ZBHostManager.lock\n");

    zbhost = std::make_unique<Zbhost>();
    ASSERT_TRUE(zbhost->WaitReady());
    ASSERT_EQ(late.Open(0, nullptr), 0);
    send.tag = 5;
    ASSERT_EQ(late.SendMessage(&send, "header", 6, 0, nullptr, nullptr), 0);
    ASSERT_EQ(late.ReceiveMessage(&info, 5000, sizeof header, header, &headerLen), 0);
    EXPECT_EQ(std::string(header, headerLen), "header");
    EXPECT_EQ(info.tag, 5u);
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What the soak's client processes report, in memory shared with them.
struct SoakReport {
    std::atomic<bool> stop;
    std::atomic<long long> servedAtMs[8];
    std::atomic<long long> served, refused, longestOpenMs;
};

// Opens, sends one message, receives its answer, closes; again and again.
void SoakClient(SoakReport* report, unsigned int client) {
    std::mt19937 random(client);
    freopen("/dev/null", "w", stdout);
    while (!report->stop) {
        setenv("PELK_EMU_TEST_PAIR_DELAY_MS", std::to_string(random() % 4).c_str(), 1);
        cPelkLib_Emu lib;
        const long long start = NowMs();
        const int status = lib.Open(0, nullptr);
        report->longestOpenMs = std::max<long long>(report->longestOpenMs, NowMs() - start);
        PK_SEND_INFO send = {1, 0, 0, 2, 3, client};
        PK_REC_INFO info;
        char header[56];
        unsigned int headerLen = 0;
        if (status == 0 && lib.SendMessage(&send, "hdr", 3, 0, nullptr, nullptr) == 0 &&
            lib.ReceiveMessage(&info, 2000, sizeof header, header, &headerLen) == 0 &&
            info.tag == client) {
            ++report->served;
            report->servedAtMs[client] = NowMs();
        } else {
            ++report->refused;
            usleep(1000);
        }
    }
}

// Not in the suite: scripts/soak_handshake.sh runs it. zbhost is killed
// (SIGKILL) and restarted PELK_SOAK_CYCLES times (300 unless set) at random
// moments while 8 client processes open, talk and close; every restart must
// succeed, and after the last every client must be served again: no
// client, and no Open on the host, is wedged.
TEST(EmuFaults, DISABLED_HandshakeSoak) {
    const int cycles = getenv("PELK_SOAK_CYCLES") != nullptr ? atoi(getenv("PELK_SOAK_CYCLES")) : 300;
    SoakReport* report = new (mmap(nullptr, sizeof(SoakReport), PROT_READ | PROT_WRITE,
                                   MAP_SHARED | MAP_ANONYMOUS, -1, 0)) SoakReport{};
    std::vector<pid_t> clients;
    std::fflush(stdout);
    for (unsigned int client = 0; client < 8; ++client) {
        clients.push_back(StartChild([=] { return SoakClient(report, client), 0; }));
    }
    std::mt19937 random(1);
    int failedStarts = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        Zbhost zbhost;
        failedStarts += zbhost.WaitReady() ? 0 : 1;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        if (zbhost.Stop(SIGKILL) != 128 + SIGKILL) {
            ++failedStarts;
            std::printf("cycle %d: %s", cycle, zbhost.Errors().c_str());
        }
    }
    Zbhost zbhost;
    EXPECT_TRUE(zbhost.WaitReady());
    const long long since = NowMs();
    auto allServed = [&] {
        return std::all_of(report->servedAtMs, report->servedAtMs + 8,
                           [&](const std::atomic<long long>& at) { return at > since; });
    };
    while (!allServed() && NowMs() - since < 70000) usleep(10000);
    EXPECT_TRUE(allServed()) << "a client is wedged";
    EXPECT_EQ(failedStarts, 0);
    report->stop = true;
    for (pid_t client : clients) WaitChild(client);
    std::printf("%d cycles: %lld round trips, %lld refused, longest Open %lld ms, "
                "all served again %lld ms after the last restart\n",
                cycles, report->served.load(), report->refused.load(),
                report->longestOpenMs.load(), NowMs() - since);
}

}  // namespace

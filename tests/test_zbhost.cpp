// The real zbhost runtime with the emulator backend: handshake, echo of
// messages with data buffers, pair removal and reuse, pairs that cannot be
// made, malformed frames, clients dying in the handshake or never opening
// their pair, the bound on queued answers, the emulator directory, one
// instance per host, clean stop, the command line and its help.
#include <glob.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "support/emu_runtime_side.h"
#include "support/run_program.h"
#include "support/zbhost_process.h"

namespace {

using testing::HasSubstr;

using namespace std::string_literals;

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Names in dir that start with "ZBHost", sorted.
std::string ZbhostFiles(const std::string& dir = "/dev") {
    glob_t found;
    std::string joined;
    if (glob((dir + "/ZBHost*").c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i)
            joined += found.gl_pathv[i] + dir.size() + 1 + " "s;
    }
    globfree(&found);
    return joined;
}

// The handshake by hand: the number the manager answers, -1 on failure.
int32_t TakeNumber() {
    int reply = open(EmuPath(ZBHOST_MANAGER_OUT_NAME).c_str(), O_RDONLY);
    int request = open(EmuPath(ZBHOST_MANAGER_IN_NAME).c_str(), O_WRONLY);
    uint32_t word = ZBHOST_MANAGER_REQUEST;
    int32_t number = -1;
    if (write(request, &word, 4) != 4 || read(reply, &number, 4) != 4) number = -1;
    close(request);
    close(reply);
    return number;
}

// Sends a protocol message with two data buffers and checks its echo.
void RoundTrip(cPelkLib& lib, unsigned int tag, size_t bigLen) {
    _PELKOR_MSG_HEADER header;
    std::memset(&header, static_cast<int>(tag), sizeof header);
    std::string small(100, 's'), big(bigLen, 'b');
    big[bigLen - 1] = 'E';
    void* buffers[2] = {&small[0], &big[0]};
    unsigned int lengths[2] = {100, static_cast<unsigned int>(bigLen)};
    ASSERT_EQ(lib.SendPelkorMessage(&header, 0x31, 0x32, tag, 2, buffers, lengths), 0);

    PK_REC_INFO info;
    _PELKOR_MSG_HEADER echoed;
    ASSERT_EQ(lib.ReceivePelkorMessage(&info, 5000, &echoed), 0);
    EXPECT_EQ(std::memcmp(&echoed, &header, sizeof header), 0);
    const PK_REC_INFO want = {1, 0x31, 0x32, tag, {100, lengths[1], 0, 0}};
    EXPECT_EQ(std::memcmp(&info, &want, sizeof want), 0);
    std::string gotSmall(100, '\0'), gotBig(bigLen, '\0');
    void* into[4] = {&gotSmall[0], &gotBig[0], nullptr, nullptr};
    ASSERT_EQ(lib.ReceiveBuffers(info.bufLen, into), 0);
    EXPECT_EQ(gotSmall, small);
    EXPECT_EQ(gotBig, big);
}

TEST(Zbhost, EchoesMessagesOnManyPairsAndReusesNumbers) {
    Zbhost zbhost;
    ASSERT_TRUE(zbhost.WaitReady());
    auto first = std::make_unique<cPelkLib_Emu>();
    auto second = std::make_unique<cPelkLib_Emu>();
    ASSERT_EQ(first->Open(0, nullptr), 0);
    ASSERT_EQ(second->Open(0, nullptr), 0);
    EXPECT_TRUE(Exists("/dev/ZBHostIn0000") && Exists("/dev/ZBHostOut0001"));

    RoundTrip(*second, 2, 9000);  // more than a pipe takes in one write
    RoundTrip(*first, 1, 10);
    first.reset();
    EXPECT_TRUE(Zbhost::WaitFor([] { return !Exists("/dev/ZBHostIn0000"); }));
    auto third = std::make_unique<cPelkLib_Emu>();
    ASSERT_EQ(third->Open(0, nullptr), 0);
    EXPECT_TRUE(Exists("/dev/ZBHostIn0000"));
    RoundTrip(*third, 3, 1024);
    RoundTrip(*second, 4, 1024);
    // A client whose pair cannot be made fails at once.
    ASSERT_EQ(mkdir("/dev/ZBHostIn0002", 0755), 0);
    cPelkLib_Emu refused;
    EXPECT_EQ(refused.Open(0, nullptr), PKERR_NOT_OPEN);
    ASSERT_EQ(rmdir("/dev/ZBHostIn0002"), 0);
    ASSERT_EQ(refused.Open(0, nullptr), 0);
    RoundTrip(refused, 8, 64);
    // More answer bytes in all than a pair may hold queued at once.
    for (unsigned int tag = 10; tag < 14; ++tag) RoundTrip(*second, tag, 15u << 20);
}

TEST(Zbhost, SurvivesMalformedFramesAndClientsDyingInTheHandshake) {
    Zbhost zbhost({"--open-timeout", "1"});
    ASSERT_TRUE(zbhost.WaitReady());

    // A client that writes a stray part of a request, then a request in two
    // pieces zbhost reads apart, and goes before reading the reply, which it
    // keeps however slow it is.
    int reply = open(EmuPath(ZBHOST_MANAGER_OUT_NAME).c_str(), O_RDONLY | O_NONBLOCK);
    int request = open(EmuPath(ZBHOST_MANAGER_IN_NAME).c_str(), O_WRONLY);
    uint32_t word = ZBHOST_MANAGER_REQUEST;
    ASSERT_EQ(write(request, &word, 3), 3);
    ASSERT_EQ(write(request, &word, 2), 2);
    int unread = 0;
    ASSERT_TRUE(
        Zbhost::WaitFor([&] { return ioctl(request, FIONREAD, &unread) == 0 && unread == 0; }));
    ASSERT_EQ(write(request, reinterpret_cast<char*>(&word) + 2, 2), 2);
    auto replyWaits = [&] { return ioctl(reply, FIONREAD, &unread) == 0 && unread == 4; };
    ASSERT_TRUE(Zbhost::WaitFor(replyWaits));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past --open-timeout
    EXPECT_TRUE(replyWaits() && Exists("/dev/ZBHostIn0000"));
    // The next request takes that reply back: its client reads only its own.
    ASSERT_EQ(write(request, &word, 4), 4);
    ASSERT_TRUE(Zbhost::WaitFor([&] {
        return testing::Value(zbhost.Errors(), HasSubstr("pipe 0000 reply not taken"));
    })) << zbhost.Errors();
    ASSERT_TRUE(Zbhost::WaitFor(replyWaits));
    int32_t number = -1;
    EXPECT_EQ(read(reply, &number, 4), 4);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(read(reply, &number, 4), -1);
    EXPECT_THAT(zbhost.Errors(), HasSubstr("dropped 3 manager bytes"));
    close(request);
    close(reply);

    cPelkLib_Emu lib;
    ASSERT_EQ(lib.Open(0, nullptr), 0);
    RoundTrip(lib, 5, 64);

    // A client that takes its number and never opens its pair loses it;
    // one that opened stays however long it is idle.
    const int32_t never = TakeNumber();
    ASSERT_GE(never, 0);
    const std::string neverPath = PipePath(ZBHOST_PIPE_IN_NAME, never);
    EXPECT_TRUE(Zbhost::WaitFor([&] { return !Exists(neverPath); }));
    const std::string removed = "pipe " + neverPath.substr(neverPath.size() - 4) +
                                " removed: its client did not open it within 1 s";
    EXPECT_THAT(zbhost.Errors(), HasSubstr(removed));

    // A malformed frame closes its pair, others go on; half a frame keeps
    // nobody else waiting.
    PK_PIPE_FRAME badMagic = RuntimeFrame(1, 4);
    badMagic.magic[0] = 'X';
    const std::pair<PK_PIPE_FRAME, std::string> malformed[] = {
        {badMagic, "bad magic"},
        {RuntimeFrame(6, 4), "numbufs 6"},
        {RuntimeFrame(1, 57), "header length 57"}};
    for (const auto& bad : malformed) {
        cPelkLib_Emu victim;
        int waitHandle = -1;
        ASSERT_EQ(victim.Open(0, &waitHandle), 0);
        std::string bytes = FrameBytes(bad.first, std::string(PK_MAX_HEADER_LEN, 'h'));
        ASSERT_EQ(victim.Write(&bytes[0], 50), 0);
        RoundTrip(lib, 7, 64);
        ASSERT_EQ(victim.Write(&bytes[50], 58), 0);
        pollfd gone = {waitHandle, POLLIN, 0};
        char byte;  // end of file: the pair is gone
        EXPECT_TRUE(poll(&gone, 1, 5000) == 1 && read(waitHandle, &byte, 1) == 0) << bad.second;
        EXPECT_THAT(zbhost.Errors(),
                    HasSubstr("closed: malformed frame from the library: " + bad.second));
    }
    RoundTrip(lib, 6, 64);
    EXPECT_EQ(zbhost.Stop(SIGHUP), 0);  // cleanly, as on SIGTERM
}

TEST(Zbhost, ServesAClientWaitingOnPipesOfAKilledRuntimeAndRemovesItsPairs) {
    for (const std::string& name :
         {EmuPath(ZBHOST_MANAGER_IN_NAME), EmuPath(ZBHOST_MANAGER_OUT_NAME),
          PipePath(ZBHOST_PIPE_IN_NAME, 3), PipePath(ZBHOST_PIPE_OUT_NAME, 12345)}) {
        ASSERT_EQ(mkfifo(name.c_str(), 0666), 0);
    }
    int opened = -1;
    std::thread client([&opened] {
        cPelkLib_Emu lib;
        opened = lib.Open(0, nullptr);
        if (opened == 0) RoundTrip(lib, 9, 64);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // blocked in open
    Zbhost zbhost;
    client.join();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(Zbhost::WaitFor([] {
        return ZbhostFiles() ==
               "ZBHostManager.lock ZBHostManagerIn ZBHostManagerOut ZBHostSemaphore ";
    })) << ZbhostFiles();
}

TEST(Zbhost, PairsQueueingMostAreNotReadPastTheOverallBound) {
    Zbhost zbhost({"--max-queued=1048576"});
    ASSERT_TRUE(zbhost.WaitReady());
    const int32_t number = TakeNumber();
    int toZbhost = open(PipePath(ZBHOST_PIPE_IN_NAME, number).c_str(), O_WRONLY | O_NONBLOCK);
    int fromZbhost = open(PipePath(ZBHOST_PIPE_OUT_NAME, number).c_str(), O_RDONLY);
    constexpr size_t kData = 256 * 1024;
    const std::string message =
        FrameBytes(RuntimeFrame(2, 0, {kData}), std::string(PK_MAX_HEADER_LEN + kData, 'm'));

    // Sent without reading answers, until zbhost stops taking more: the
    // 1 MiB bound, one message past it, what the pipes hold and a part of a
    // message; far less than the 32 MiB a pair may queue on its own.
    size_t sent = 0;
    while (sent < (16u << 20)) {
        const size_t at = sent % message.size();
        ssize_t n = write(toZbhost, message.data() + at, message.size() - at);
        pollfd room = {toZbhost, POLLOUT, 0};
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (poll(&room, 1, 500) == 0) {
            break;
        }
    }
    EXPECT_LT(sent, 2u << 20);
    cPelkLib_Emu light;  // a pair that queues little is still read
    ASSERT_EQ(light.Open(0, nullptr), 0);
    RoundTrip(light, 1, 1000);

    // Reading the answers lets zbhost read the rest.
    const size_t messages = (sent + message.size() - 1) / message.size();
    const size_t want = messages * (ZBHOST_FRAME_LEN + kData);
    size_t answered = 0;
    std::thread reader([&] {
        std::string chunk(1 << 16, '\0');
        pollfd ready = {fromZbhost, POLLIN, 0};
        ssize_t n = 0;
        while (answered < want && poll(&ready, 1, 5000) == 1 &&
               (n = read(fromZbhost, &chunk[0], chunk.size())) > 0) {
            answered += static_cast<size_t>(n);
        }
    });
    fcntl(toZbhost, F_SETFL, 0);
    const size_t rest = messages * message.size() - sent;
    EXPECT_EQ(write(toZbhost, message.data() + message.size() - rest, rest),
              static_cast<ssize_t>(rest));
    reader.join();
    EXPECT_EQ(answered, want);
    close(toZbhost);
    close(fromZbhost);
}

// Answers that fill the library's in-pipe while it does not read: each frame
// is in the pipe whole or not at all (here while zbhost is stopped), so
// every frame reads in one piece. Answers of 3 pages and 20 bytes would
// leave a frame's first 20 bytes at the end of a full pipe if written
// whole.
TEST(Zbhost, AnswersFillingThePipeKeepEachFrameWhole) {
    Zbhost zbhost;
    ASSERT_TRUE(zbhost.WaitReady());
    cPelkLib_Emu lib;
    int waitHandle = -1;
    ASSERT_EQ(lib.Open(0, &waitHandle), 0);
    std::string data(3 * 4096 + 20 - ZBHOST_SEND_BLOCK_LEN, 'p');
    void* buffers[1] = {&data[0]};
    unsigned int lengths[1] = {static_cast<unsigned int>(data.size())};
    _PELKOR_MSG_HEADER header = {};
    constexpr unsigned int kMessages = 8;
    for (unsigned int tag = 1; tag <= kMessages; ++tag) {
        ASSERT_EQ(lib.SendPelkorMessage(&header, 1, 2, tag, 1, buffers, lengths), 0);
    }
    // zbhost fills the pipe as far as it goes and is stopped there; stopped
    // while it was still writing an answer (a busy machine), it goes on and
    // is stopped again.
    const int answer = static_cast<int>(ZBHOST_SEND_BLOCK_LEN + data.size());
    for (int waiting = -1;;) {
        int before = -2;
        while (waiting != before) {
            before = waiting;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ioctl(waitHandle, FIONREAD, &waiting);
        }
        ASSERT_TRUE(zbhost.Pause());
        ioctl(waitHandle, FIONREAD, &waiting);
        if (waiting % answer == 0) break;
        zbhost.Signal(SIGCONT);
    }
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER echoed;
    std::string back(data.size(), '\0');
    void* into[4] = {&back[0], nullptr, nullptr, nullptr};
    unsigned int tag = 1;
    StdoutCapture out;
    while (lib.ReceivePelkorMessage(&info, 0, &echoed) == 0 && info.tag == tag &&
           lib.ReceiveBuffers(info.bufLen, into) == 0) {
        ++tag;
    }
    EXPECT_EQ(out.Take(), "WaitForMessage: poll timedout was waiting for 0 ms\n");
    EXPECT_GT(tag, 2u);
    zbhost.Signal(SIGCONT);
    for (; tag <= kMessages; ++tag) {
        ASSERT_EQ(lib.ReceivePelkorMessage(&info, 5000, &echoed), 0);
        EXPECT_EQ(info.tag, tag);
        ASSERT_EQ(lib.ReceiveBuffers(info.bufLen, into), 0);
        EXPECT_EQ(back, data);
    }
}

// A pair that reads nothing for a while keeps what it holds of a message
// and gives back the memory its last large message took. (AddressSanitizer
// holds freed memory back for a while; told not to, zbhost's resident size
// shows what it gives back as it does without it.)
TEST(Zbhost, IdlePairsKeepWhatTheyHoldAndGiveBackTheirBuffers) {
    const char* sanitizer = getenv("ASAN_OPTIONS");
    const std::string options = sanitizer != nullptr ? sanitizer : "";
    setenv("ASAN_OPTIONS", (options + ":quarantine_size_mb=0").c_str(), 1);
    Zbhost zbhost;
    if (sanitizer != nullptr) {
        setenv("ASAN_OPTIONS", options.c_str(), 1);
    } else {
        unsetenv("ASAN_OPTIONS");
    }
    ASSERT_TRUE(zbhost.WaitReady());
    cPelkLib_Emu lib;
    ASSERT_EQ(lib.Open(0, nullptr), 0);
    const long idle = zbhost.ResidentKib();
    RoundTrip(lib, 1, 8u << 20);
    const long busy = zbhost.ResidentKib();
    EXPECT_GT(busy, idle + 6 * 1024) << idle;

    const std::string message = FrameBytes(RuntimeFrame(2, 56, {3}), std::string(56, 'h') + "abc");
    ASSERT_EQ(lib.Write(const_cast<char*>(message.data()), 100), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // more than two idle checks
    EXPECT_LT(zbhost.ResidentKib(), busy - 6 * 1024) << idle;
    ASSERT_EQ(lib.Write(const_cast<char*>(message.data()) + 100, message.size() - 100), 0);
    PK_REC_INFO info;
    char header[56], data[3];
    unsigned int headerLen = 0;
    ASSERT_EQ(lib.ReceiveMessage(&info, 5000, sizeof header, header, &headerLen), 0);
    void* into[4] = {data, nullptr, nullptr, nullptr};
    ASSERT_EQ(lib.ReceiveBuffers(info.bufLen, into), 0);
    EXPECT_EQ(std::string(data, 3), "abc");
}

// In the directory named by PELK_EMULATOR_DIR, nothing in /dev.
TEST(Zbhost, OneInstancePerDirectoryAndStopRemovesEverything) {
    char dir[] = "/tmp/pelk-emu-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string devBefore = ZbhostFiles();
    setenv(kEmulatorDirVariable, dir, 1);
    Zbhost zbhost;
    EXPECT_TRUE(zbhost.WaitReady());
    Zbhost second;
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_THAT(second.Errors(), HasSubstr("another zbhost already serves"));
    cPelkLib_Emu lib;
    EXPECT_EQ(lib.Open(0, nullptr), 0);
    RoundTrip(lib, 11, 64);
    EXPECT_EQ(ZbhostFiles(dir), "ZBHostIn0000 ZBHostManager.lock ZBHostManagerIn "
                                "ZBHostManagerOut ZBHostOut0000 ZBHostSemaphore ");
    EXPECT_EQ(zbhost.Stop(), 0);
    EXPECT_EQ(ZbhostFiles(dir), "ZBHostSemaphore ");

    // A directory name too long names no file, for zbhost and the library.
    setenv(kEmulatorDirVariable, (std::string(dir) + std::string(200, '/')).c_str(), 1);
    Zbhost tooLong;
    EXPECT_EQ(tooLong.Wait(), 1);
    EXPECT_EQ(tooLong.Errors(), "zbhost: PELK_EMULATOR_DIR is longer than 200 bytes\n");
    cPelkLib_Emu refused;
    EXPECT_NE(refused.Open(0, nullptr), 0);
    unsetenv(kEmulatorDirVariable);
    EXPECT_EQ(ZbhostFiles(), devBefore);
    unlink((std::string(dir) + "/" + ZBHOST_SEMAPHORE_NAME).c_str());
    EXPECT_EQ(rmdir(dir), 0);
}

// Usage errors exit 2 with one line naming the option and where help is,
// before zbhost makes anything; the help lists every option it takes.
TEST(Zbhost, ReadsItsCommandLineAndExplainsIt) {
    const std::string zbhost = "timeout 10 "s + ZBHOST_PATH;
    const std::string before = ZbhostFiles();
    const std::pair<const char*, const char*> wrong[] = {
        {"--max-queued", "--max-queued needs a value BYTES"},
        {"--open-timeout -1", "--open-timeout takes 1 to 3600 seconds, not \"-1\""},
        {"--max-queued=1048575", "--max-queued takes 1048576 to 1099511627776 bytes, not"},
        {"-q", "unknown option -q"},
        {"--verbose=1", "--verbose takes no value"},
        {"-5", "unexpected argument \"-5\""},
        {"-- -v", "unexpected argument \"-v\""},
        {"--timing", "--ignore, --timing and --json need --replay FILE"},
        {"-j", "--ignore, --timing and --json need --replay FILE"},
        {"--replay x --ignore tag,bogus", "--ignore takes type, dst1,"}};
    for (const auto& [args, says] : wrong) {
        ProgramResult result = RunProgram(zbhost + " " + args + " 2>&1");
        EXPECT_EQ(result.exitCode, 2) << args;
        EXPECT_EQ(result.output.rfind("zbhost: "s + says, 0), 0u) << result.output;
        EXPECT_THAT(result.output, testing::EndsWith(" (see zbhost --help)\n"));
    }
    EXPECT_EQ(ZbhostFiles(), before);

    Zbhost verbose({"-v", "--open-timeout=5"});
    ASSERT_TRUE(verbose.WaitReady());
    EXPECT_EQ(verbose.Stop(), 0);
    EXPECT_THAT(verbose.Errors(), HasSubstr("zbhost: serving in /dev\n"));

    ProgramResult help = RunProgram(zbhost + " --help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option :
         {"Usage: zbhost ", "\n  -v, --verbose ", "\n      --max-queued BYTES ",
          "\n      --open-timeout SECONDS ", "\n      --replay FILE ",
          "\n      --ignore FIELD,... ", "\n      --timing ", "\n  -h, --help ",
          "\n  -V, --version ", "\nExamples:\n  zbhost "}) {
        EXPECT_THAT(help.output, HasSubstr(option));
    }
    // Help comes before the values are looked at.
    EXPECT_EQ(RunProgram(zbhost + " -v --max-queued 1 --open-timeout=1 --replay f --ignore x "
                                  "--timing -h")
                  .output,
              help.output);
    EXPECT_EQ(RunProgram(zbhost + " -V").output, "zbhost 1.0.0\n");
}

// A fresh directory in the sandbox's /dev/shm.
std::string Directory(mode_t mode, uid_t owner) {
    char name[] = "/dev/shm/zbhost-XXXXXX";
    EXPECT_TRUE(mkdtemp(name) && chmod(name, mode) == 0 && chown(name, owner, owner) == 0);
    return name;
}

// A directory others could rearrange, and a lock that is a link, are
// refused; the link's target is not made.
TEST(Zbhost, RefusesLooseDirectoriesAndLockLinks) {
    const auto directory = Directory;
    const std::string target = "/dev/shm/zbhost-roots-file";
    const std::string lockLink = directory(01777, 0);
    ASSERT_EQ(symlink(target.c_str(), (lockLink + "/" + ZBHOST_LOCK_NAME).c_str()), 0);
    const std::string lockOfNobody = directory(01777, 0);
    const std::string nobodysLock = lockOfNobody + "/" + ZBHOST_LOCK_NAME;
    ASSERT_EQ(close(open(nobodysLock.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644)), 0);
    ASSERT_EQ(chown(nobodysLock.c_str(), 65534, 65534), 0);
    const std::pair<std::string, std::string> refusals[] = {
        {directory(0777, 0), "is writable by every user without the sticky bit"},
        {directory(0755, 65534), "(owner nobody (uid 65534), group nogroup, mode 0755) belongs"},
        {lockLink, "ZBHostManager.lock is a symbolic link, which is not followed"},
        {lockOfNobody, "ZBHostManager.lock (owner nobody (uid 65534), group nogroup, mode 0644) "
                       "belongs to none of: root"}};
    for (const auto& refused : refusals) {
        setenv(kEmulatorDirVariable, refused.first.c_str(), 1);
        Zbhost zbhost;
        EXPECT_EQ(zbhost.Exited(), 1);
        EXPECT_THAT(zbhost.Errors(), HasSubstr(refused.second));
    }
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    unsetenv(kEmulatorDirVariable);
}

// Links under the names of zbhost's pipes, planted before it starts or
// swapped in while it makes them, are never followed: the FIFO they point
// at keeps its mode. A chmod by path is made slow, so that a swap would
// meet it.
TEST(Zbhost, NeverFollowsLinksSwappedInForItsPipes) {
    const std::string target = "/dev/shm/zbhost-swapped-fifo";
    ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
    const std::string dir = Directory(0755, 0);
    setenv(kEmulatorDirVariable, dir.c_str(), 1);
    for (const char* name : {ZBHOST_MANAGER_IN_NAME, ZBHOST_MANAGER_OUT_NAME}) {
        ASSERT_EQ(symlink(target.c_str(), EmuPath(name).c_str()), 0);
    }
    setenv("LD_PRELOAD", SLOW_CHMOD_PATH, 1);
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    Zbhost zbhost;
    unsetenv("LD_PRELOAD");
    // Ready once both links have become zbhost's FIFOs (a reader on the
    // request pipe may show before the reply pipe is made).
    ASSERT_TRUE(Zbhost::WaitFor([] {
        struct stat in {
        }, out{};
        return lstat(EmuPath(ZBHOST_MANAGER_IN_NAME).c_str(), &in) == 0 && S_ISFIFO(in.st_mode) &&
               lstat(EmuPath(ZBHOST_MANAGER_OUT_NAME).c_str(), &out) == 0 && S_ISFIFO(out.st_mode);
    }));
    ASSERT_TRUE(zbhost.WaitReady());
    std::atomic<int> next{0};
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        const std::string link = dir + "/link";
        while (!done) {
            (void)!symlink(target.c_str(), link.c_str());
            (void)!rename(link.c_str(), PipePath(ZBHOST_PIPE_IN_NAME, next).c_str());
        }
    });
    for (int number = 0; number < 20; ++number) {
        next = number;
        TakeNumber();
    }
    done = true;
    swapper.join();
    struct stat status {};
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    unsetenv(kEmulatorDirVariable);
}

}  // namespace

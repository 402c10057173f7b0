// Emulator backend on its pipes: handshake, frames sent, frames received
// (well-formed and malformed), with standard output compared byte for byte.
#include <sys/ioctl.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "emu/system_calls.h"
#include "support/emu_runtime_side.h"

namespace {

using namespace std::string_literals;

struct OpenedBackend {
    explicit OpenedBackend(int32_t number = 7) {
        runtime.Serve(number);
        status = lib.Open(0, &waitHandle);
        runtime.Join();
    }
    RuntimeSide runtime;
    cPelkLib_Emu lib;
    int waitHandle = -2;
    int status = 1;
};

int FailingFcntl(int, int, ...) {
    errno = EBADF;
    return -1;
}

std::string Bytes(const void* data, size_t length) {
    return std::string(static_cast<const char*>(data), length);
}

// Also an attach whose second pipe is missing closes its first again.
TEST(EmuPipes, NothingWorksBeforeOpenAndFailedOpensLeaveNothingOpen) {
    cPelkLib_Emu lib;
    StdoutCapture out;
    EXPECT_EQ(lib.GetWaitHandle(), -1);
    PK_REC_INFO info;
    char header[56];
    unsigned int length = 0;
    EXPECT_EQ(lib.ReceiveMessage(&info, 0, 56, header, &length), PKERR_NOT_OPEN);
    EXPECT_EQ(lib.Open(0, nullptr), PKERR_NOT_OPEN);
    PK_SEND_INFO send = {};
    EXPECT_EQ(lib.SendMessage(&send, header, 8, 0, nullptr, nullptr), PKERR_NOT_OPEN);

    const std::string in = PipePath(ZBHOST_PIPE_IN_NAME, 9);
    ASSERT_EQ(mkfifo(in.c_str(), 0666), 0);
    int reader = open(in.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(lib.AttachPipes(9), PKERR_UNKNOWN);
    EXPECT_EQ(out.Take(), "Write: called with m_pipes_inuse = false\n"
                          "AttachPipes trying to open In pipe 9, open returned -1, errno 2: "
                          "No such file or directory\n");
    EXPECT_EQ(lib.GetWaitHandle(), -1);
    EXPECT_EQ(read(reader, header, 1), 0);  // the writer has gone again

    // Both pipes opened, but they cannot be made blocking: both are closed.
    const std::string back = PipePath(ZBHOST_PIPE_OUT_NAME, 9);
    ASSERT_EQ(mkfifo(back.c_str(), 0666), 0);
    const EmuSystemCalls saved = g_emuSystemCalls;
    g_emuSystemCalls.fcntl = FailingFcntl;
    StdoutCapture failed;
    EXPECT_EQ(lib.AttachPipes(9), PKERR_UNKNOWN);
    g_emuSystemCalls = saved;
    EXPECT_EQ(failed.Take(), "AttachPipes making pipe 9 blocking, fcntl failed, errno 9: "
                             "Bad file descriptor\n");
    EXPECT_EQ(lib.GetWaitHandle(), -1);
    EXPECT_EQ(read(reader, header, 1), 0);
    close(reader);
    unlink(in.c_str());
    unlink(back.c_str());
}

TEST(EmuPipes, HandshakeNamesThePairAndSecondOpenIsRefused) {
    OpenedBackend opened(7);
    ASSERT_EQ(opened.status, 0);
    EXPECT_EQ(opened.runtime.request, "\xEF\xBE\0\0"s);
    EXPECT_EQ(opened.waitHandle, opened.lib.GetWaitHandle());
    EXPECT_GE(opened.waitHandle, 0);
    EXPECT_EQ(fcntl(opened.waitHandle, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(PipePath(ZBHOST_PIPE_IN_NAME, 7), "/dev/ZBHostIn0007");

    StdoutCapture out;
    EXPECT_EQ(opened.lib.Open(0, nullptr), PKERR_NOT_OPEN);
    EXPECT_EQ(opened.lib.AttachPipes(7), PKERR_UNKNOWN);
    EXPECT_EQ(out.Take(), "DeterminePipe: error, invoked with m_pipes_inuse = true\n"
                          "AttachPipes: error, invoked with m_pipes_inuse = true\n");

    OpenedBackend fiveDigits(12345);
    EXPECT_EQ(fiveDigits.status, 0);  // only /dev/ZBHostIn12345 exists for it
}

TEST(EmuPipes, SendWritesFrameHeaderAreaAndNonEmptyBuffers) {
    OpenedBackend opened;
    ASSERT_EQ(opened.status, 0);

    char header[57];
    std::memset(header, 'h', sizeof header);
    std::string data(100, 'd');
    void* buffers[5] = {&data[0], &data[0], &data[0], &data[0], &data[0]};
    unsigned int lengths[5] = {100, 0, 0, 0, 0};
    PK_SEND_INFO info = {5, 0, 0, 0x123, 0x456, 0x789};
    EXPECT_EQ(opened.lib.SendMessage(&info, header, 8, 5, buffers, lengths), PKERR_BUFCOUNT);
    EXPECT_EQ(opened.lib.SendMessage(&info, nullptr, 8, 0, buffers, lengths), PKERR_NO_MESSAGE);
    EXPECT_EQ(opened.lib.SendMessage(&info, header, 57, 0, buffers, lengths), -13);

    // Nothing of the refused ones, then exactly these 208 bytes.
    ASSERT_EQ(opened.lib.SendMessage(&info, header, 20, 2, buffers, lengths), 0);
    const PK_MSG_DESC want = {5, 0, 0x456, 4095, 0x123, 0x789, 3, {20, 100, 0, 0, 0}};
    EXPECT_EQ(opened.runtime.Receive(208),
              "ZBPC" + Bytes(&want, 48) + std::string(20, 'h') + std::string(36, '\0') + data);

    _PELKOR_MSG_HEADER pelkor;
    std::memset(&pelkor, 0x5C, sizeof pelkor);
    ASSERT_EQ(opened.lib.SendPelkorMessage(&pelkor, 1, 2, 3, 0, nullptr, nullptr), 0);
    const PK_MSG_DESC wantPelkor = {1, 0, 2, 4095, 1, 3, 1, {56, 0, 0, 0, 0}};
    EXPECT_EQ(opened.runtime.Receive(108), "ZBPC" + Bytes(&wantPelkor, 48) + Bytes(&pelkor, 56));
}

// ReadBuffer collects what arrives in pieces, taking no byte past its length.
TEST(EmuPipes, ReceiveDeliversHeaderInfoAndBuffers) {
    OpenedBackend opened;
    ASSERT_EQ(opened.status, 0);
    std::thread writer([&] {
        for (const char* piece : {"aaaaaaaaaabbbbbbbbbbcccccccccc", "ddddddddddnext"}) {
            opened.runtime.Send(piece);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    char buffer[40];
    EXPECT_EQ(opened.lib.ReadBuffer(buffer, 40), 0);
    writer.join();
    EXPECT_EQ(Bytes(buffer, 40), "aaaaaaaaaabbbbbbbbbbccccccccccdddddddddd");
    int left = 0;
    EXPECT_EQ(ioctl(opened.lib.GetWaitHandle(), FIONREAD, &left), 0);
    EXPECT_EQ(left, 4);
    ASSERT_EQ(opened.lib.ReadBuffer(buffer, 4), 0);

    PK_REC_INFO info;
    std::memset(&info, 0xEE, sizeof info);
    char header[64];
    unsigned int headerLen = 0;

    // Header of 40 into 32 bytes: truncated, info filled, nothing left over.
    opened.runtime.Send(
        FrameBytes(RuntimeFrame(4, 40, {3, 0, 4}), std::string(40, 'H') + "abcwxyz"));
    EXPECT_EQ(opened.lib.ReceiveMessage(&info, 1000, 32, header, &headerLen), PKERR_DATA_LOST);
    EXPECT_EQ(headerLen, 32u);
    EXPECT_EQ(Bytes(header, 32), std::string(32, 'H'));
    const PK_REC_INFO want = {9, 0x11, 0x22, 0x7A6, {3, 0, 4, 0}};
    EXPECT_EQ(Bytes(&info, sizeof info), Bytes(&want, sizeof want));

    // Zero lengths are skipped, not the end of the list.
    char first[3], third[4];
    void* buffers[4] = {first, nullptr, third, nullptr};
    ASSERT_EQ(opened.lib.ReceiveBuffers(info.bufLen, buffers), 0);
    EXPECT_EQ(Bytes(first, 3), "abc");
    EXPECT_EQ(Bytes(third, 4), "wxyz");
    EXPECT_EQ(opened.lib.ReceiveBuffers(info.bufLen, buffers), 0);  // nothing pending

    // A buffer never fetched is dropped before the next frame.
    opened.runtime.Send(FrameBytes(RuntimeFrame(2, 1, {3}), "Hxyz") +
                        FrameBytes(RuntimeFrame(1, 56), std::string(56, 'P')));
    ASSERT_EQ(opened.lib.ReceiveMessage(&info, 1000, 64, header, &headerLen), 0);
    _PELKOR_MSG_HEADER pelkor;
    ASSERT_EQ(opened.lib.ReceivePelkorMessage(&info, 1000, &pelkor), 0);
    EXPECT_EQ(Bytes(&pelkor, 56), std::string(56, 'P'));
    EXPECT_EQ(Bytes(info.bufLen, 16), std::string(16, '\0'));

    StdoutCapture out;
    EXPECT_EQ(opened.lib.ReceiveMessage(&info, 0, 64, header, &headerLen), PKERR_TIMEOUT);
    EXPECT_EQ(out.Take(), "WaitForMessage: poll timedout was waiting for 0 ms\n");
}

TEST(EmuPipes, MalformedFramesAreReportedAndWhatStaysInThePipe) {
    OpenedBackend opened;
    ASSERT_EQ(opened.status, 0);
    PK_REC_INFO info;
    char header[64];
    unsigned int headerLen = 0;
    auto receive = [&] { return opened.lib.ReceiveMessage(&info, 1000, 64, header, &headerLen); };
    auto send = [&](const PK_PIPE_FRAME& frame, const std::string& rest) {
        opened.runtime.Send(FrameBytes(frame, rest));
    };

    StdoutCapture out;
    PK_PIPE_FRAME bad = RuntimeFrame(1, 4);
    bad.magic[3] = 'X';
    // A frame without a header leaves the data it announces to be dropped.
    for (const PK_PIPE_FRAME& frame :
         {bad, RuntimeFrame(0, 4), RuntimeFrame(6, 4), RuntimeFrame(2, 0, {5})}) {
        send(frame, frame.desc.Buflen[1] == 5 ? "12345" : "");
        EXPECT_EQ(receive(), PKERR_BAD_MESSAGE);
    }
    // An oversized header stays pending and the flush drops exactly it.
    send(RuntimeFrame(1, 57), std::string(57, 'x') + "tail");
    EXPECT_EQ(receive(), PKERR_BAD_MESSAGE);
    EXPECT_EQ(opened.lib.FlushMessageBuffers(), 0);
    char tail[4];
    ASSERT_EQ(opened.lib.ReadBuffer(tail, 4), 0);
    EXPECT_EQ(Bytes(tail, 4), "tail");
    // A short frame is consumed whole.
    opened.runtime.Send("ZBPC0123456789abcdef");
    EXPECT_EQ(receive(), PKERR_UNKNOWN);
    EXPECT_EQ(out.Take(),
              "ReceiveMessage: ERROR - PIPE OUT OF SYNC\n"
              "ReceiveMessage: numbufs is 0\n"
              "ReceiveMessage: numbufs is 6\n"
              "ReceiveMessage: Buflen[0]=0, should be msg header\n"
              "ReceiveMessage: Buflen[0]= 57 is too large, greater than any message header "
              "(max 56)\n"
              "WaitForMessage, read returned 20, size requested 52\n");

    // End of file inside a data buffer, then inside a header.
    send(RuntimeFrame(2, 4, {10}), "head12345");
    ASSERT_EQ(receive(), 0);
    char data[10];
    void* buffers[4] = {data, nullptr, nullptr, nullptr};
    StdoutCapture eofOut;
    opened.runtime.CloseEnds();
    EXPECT_EQ(opened.lib.ReceiveBuffers(info.bufLen, buffers), PKERR_UNKNOWN);
    EXPECT_EQ(opened.lib.FlushMessageBuffers(), 0);  // nothing left pending
    EXPECT_EQ(eofOut.Take(),
              "ReadBuffer: read returned 0, errno 0: Success\nReadBuffer FAILED, error -1\n");

    OpenedBackend other(8);
    ASSERT_EQ(other.status, 0);
    other.runtime.Send(FrameBytes(RuntimeFrame(1, 40), "only ten b"));
    other.runtime.CloseEnds();
    StdoutCapture headerOut;
    EXPECT_EQ(other.lib.ReceiveMessage(&info, 1000, 64, header, &headerLen), PKERR_BAD_MESSAGE);
    EXPECT_EQ(headerOut.Take(), "ReadBuffer: read returned 0, errno 0: Success\n"
                                "ReceiveMessage: Failed to receive message header buffer\n");
}

// The runtime goes while a data buffer larger than the pipe is written, then
// before a frame: -1 each time, no SIGPIPE left, the thread's mask kept (a
// blocked SIGUSR1 included); a SIGPIPE pending before stays pending.
TEST(EmuPipes, WriteToVanishedRuntimeFailsWithoutSigpipe) {
    OpenedBackend opened;
    ASSERT_EQ(opened.status, 0);
    auto blocked = [] {
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        std::string text;
        for (int signal = 1; signal < SIGRTMAX; ++signal)
            text += sigismember(&mask, signal) ? 'b' : '.';
        return text;
    };
    sigset_t usr1, pending;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    const std::string before = blocked();
    std::thread runtime([&] {
        opened.runtime.Receive(ZBHOST_SEND_BLOCK_LEN + 1000);
        opened.runtime.CloseEnds();
    });
    std::string data(1 << 20, 'd');
    void* buffers[1] = {&data[0]};
    unsigned int lengths[1] = {static_cast<unsigned int>(data.size())};
    PK_SEND_INFO info = {};
    StdoutCapture out;
    EXPECT_EQ(opened.lib.SendMessage(&info, "hdr", 3, 1, buffers, lengths), PKERR_UNKNOWN);
    runtime.join();
    EXPECT_EQ(opened.lib.SendMessage(&info, nullptr, 0, 0, nullptr, nullptr), PKERR_UNKNOWN);
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    EXPECT_EQ(blocked(), before);
    pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);

    sigset_t pipeSignal, previous, during;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    raise(SIGPIPE);
    EXPECT_EQ(opened.lib.SendMessage(&info, nullptr, 0, 0, nullptr, nullptr), PKERR_UNKNOWN);
    sigpending(&pending);
    EXPECT_TRUE(sigismember(&pending, SIGPIPE));
    pthread_sigmask(SIG_BLOCK, nullptr, &during);
    EXPECT_TRUE(sigismember(&during, SIGPIPE));
    const struct timespec noWait = {0, 0};
    EXPECT_EQ(sigtimedwait(&pipeSignal, nullptr, &noWait), SIGPIPE);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(out.Take(), "Write: write returned -1, errno 32: Broken pipe\n"
                          "Write: write returned -1, errno 32: Broken pipe\n"
                          "Write: write returned -1, errno 32: Broken pipe\n");
}

}  // namespace

// Standard input, output and error closed, as some daemons run: every
// program opens /dev/null there first, so what it prints never lands in a
// file of its own (zbhost once read back its own complaint forever); the
// library keeps none of its descriptors there, so what the application or
// the library's log prints never reaches the runtime.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <pelklib.h>

#include "capture/capture_reader.h"
#include "oam/board_table_writer.h"
#include "support/child_process.h"
#include "support/zbhost_process.h"

namespace {

// Runs a program with descriptors 0, 1 and 2 closed.
pid_t StartClosed(std::vector<const char*> arguments) {
    arguments.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(0), close(1), close(2);
        execv(arguments[0], const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    return pid;
}

// Whether descriptors 0 to 2 of process pid lead to /dev/null.
bool OnDevNull(pid_t pid) {
    for (int fd = 0; fd <= 2; ++fd) {
        char target[64] = {};
        const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
        if (readlink(link.c_str(), target, sizeof target - 1) <= 0 ||
            std::string(target) != "/dev/null") {
            return false;
        }
    }
    return true;
}

// User and system time of process pid so far, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i >= 14) ticks += std::stol(field);  // utime, stime (the name has no blank)
    }
    return ticks;
}

bool RoundTrip(cPelkLib* lib) {
    _PELKOR_MSG_HEADER header = {};
    PK_REC_INFO info;
    return lib->SendPelkorMessage(&header, 1, 0, 7, 0, nullptr, nullptr) == 0 &&
           lib->ReceivePelkorMessage(&info, 5000, &header) == 0 && info.tag == 7;
}

TEST(StandardDescriptors, ProgramsOpenDevNullOnClosedOnes) {
    // zbhost drops garbage on its request pipe once, and serves on.
    const pid_t zbhost = StartClosed({ZBHOST_PATH});
    ASSERT_TRUE(Zbhost::WaitFor([] {
        const int fd = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY | O_NONBLOCK);
        return fd >= 0 && close(fd) == 0;
    }));
    EXPECT_TRUE(OnDevNull(zbhost));
    const long before = CpuTicks(zbhost);
    const int request = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY);
    ASSERT_EQ(write(request, "garbage!", 8), 8);
    close(request);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(CpuTicks(zbhost) - before, sysconf(_SC_CLK_TCK) / 10);
    cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
    EXPECT_EQ(lib->Open(56, nullptr), 0);
    EXPECT_TRUE(RoundTrip(lib));
    deletePelkLib(lib);
    kill(zbhost, SIGTERM);
    EXPECT_EQ(WaitChild(zbhost), 0);

    // pelk, while it waits to read a capture from a FIFO.
    ASSERT_EQ(mkfifo("/dev/shm/trace.fifo", 0600), 0);
    const pid_t pelk = StartClosed({PELK_PATH, "trace", "/dev/shm/trace.fifo"});
    EXPECT_TRUE(Zbhost::WaitFor([pelk] { return OnDevNull(pelk); }));
    close(open("/dev/shm/trace.fifo", O_WRONLY));
    EXPECT_EQ(WaitChild(pelk), 1);  // an empty capture

    // oamtab, while it waits for the table's mutex.
    CBoardTableWriter table(kBoardIDsShadowName, kBoardIDsShadowSize);
    table.Lock();
    const pid_t oamtab = StartClosed({OAMTAB_PATH, "clear"});
    EXPECT_TRUE(Zbhost::WaitFor([oamtab] { return OnDevNull(oamtab); }));
    table.Unlock();
    EXPECT_EQ(WaitChild(oamtab), 0);
}

// With the log on standard output, then in a file of its own.
TEST(StandardDescriptors, LibraryKeepsItsOwnElsewhere) {
    Zbhost zbhost;
    ASSERT_TRUE(zbhost.WaitReady());
    for (const char* log : {"stdout", "/dev/shm/closed.log"}) {
        const pid_t child = StartChild([log] {
            setenv("PELK_CAPTURE", "/dev/shm/closed.pcapng", 1);
            setenv("PELK_LOG", log, 1);
            close(0), close(1), close(2);
            cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
            int handle = -1;
            bool ok = lib->Open(56, &handle) == 0 && handle > 2;
            // A time-out is logged: on a closed standard output, not a pipe.
            _PELKOR_MSG_HEADER header;
            PK_REC_INFO info;
            ok = ok && lib->ReceivePelkorMessage(&info, 0, &header) == PKERR_TIMEOUT;
            std::fflush(nullptr);
            ok = ok && RoundTrip(lib);
            char data[] = "x";
            unsigned int count = 0;
            ok = ok && lib->SetBoardData(0, 1, data, &count) == 0;
            for (int fd = 0; fd <= 2; ++fd) ok = ok && fcntl(fd, F_GETFD) == -1;
            deletePelkLib(lib);
            return ok ? 0 : 1;
        });
        EXPECT_EQ(WaitChild(child), 0) << log;
        Capture capture;
        ASSERT_TRUE(ReadCaptureFile("/dev/shm/closed.pcapng", &capture)) << capture.error;
        EXPECT_GE(capture.records.size(), 4u);
    }
    std::ifstream file("/dev/shm/closed.log");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "WaitForMessage: poll timedout was waiting for 0 ms\n");
}

}  // namespace

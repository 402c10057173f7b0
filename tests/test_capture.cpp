// The capture decorator made by the factories: present only with
// PELK_CAPTURE, one file shared by objects on many threads with each
// object's records in order, and a file readable after SIGKILL. Each case
// runs in a child process, since the capture file is process-wide.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_reader.h"
#include "emu/pelklib_emu.h"
#include "tests/support/child_process.h"
#include "tests/support/zbhost_process.h"
#include "unix/pelklib.h"

namespace {

// A protocol message tagged tag, and its echo received whole.
int RoundTrip(cPelkLib* lib, unsigned int tag) {
    _PELKOR_MSG_HEADER header = {};
    header.word0 = tag;
    char data[8] = "capture";
    void* buffers[1] = {data};
    unsigned int lengths[1] = {sizeof data};
    int status = lib->SendPelkorMessage(&header, 1, 0, tag, 1, buffers, lengths);
    PK_REC_INFO info;
    if (status == 0) status = lib->ReceivePelkorMessage(&info, 5000, &header);
    return status == 0 ? lib->ReceiveBuffers(info.bufLen, buffers) : status;
}

// Only a regular file of the user's own is written: a FIFO (with or without
// a reader) or another user's file is reported once, and never waited for.
TEST(Capture, FactoriesWrapOnlyWhenAFileIsNamed) {
    ASSERT_EQ(mkfifo("/dev/shm/unread.fifo", 0666), 0);
    ASSERT_EQ(mkfifo("/dev/shm/read.fifo", 0666), 0);
    const int reader = open("/dev/shm/read.fifo", O_RDONLY | O_NONBLOCK);
    ASSERT_EQ(AsNobody([] { return close(creat("/dev/shm/theirs.pcapng", 0666)); }), 0);
    const struct {
        const char* variable;  // null: unset
        bool wrapped;
        size_t reports;  // diagnostic lines after two objects
    } cases[] = {{nullptr, false, 0},
                 {"", false, 0},
                 {"/nonexistent/dir/c.pcapng", false, 1},
                 {"/dev/shm/unread.fifo", false, 1},
                 {"/dev/shm/read.fifo", false, 1},
                 {"/dev/shm/theirs.pcapng", false, 1},
                 {"/dev/shm/c%p.pcapng", true, 0}};
    for (const auto& c : cases) {
        const int errors = memfd_create("stderr", 0);
        const pid_t child = StartChild([&] {
            alarm(5);
            dup2(errors, 2);
            setenv("PELK_LOG", "stderr", 1);
            c.variable ? setenv("PELK_CAPTURE", c.variable, 1) : unsetenv("PELK_CAPTURE");
            cPelkLib* emu = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
            cPelkLib* unix = newPelkLib();
            const bool plain =
                dynamic_cast<cPelkLib_Emu*>(emu) && dynamic_cast<cPelkLib_Unix*>(unix);
            deletePelkLib(emu);
            deletePelkLib(unix);
            return plain == !c.wrapped ? 0 : 1;
        });
        EXPECT_EQ(WaitChild(child), 0) << (c.variable ? c.variable : "unset");
        char text[512] = {};
        (void)!pread(errors, text, sizeof text - 1, 0);
        close(errors);
        EXPECT_EQ(std::count(text, text + std::strlen(text), '\n'), static_cast<long>(c.reports))
            << text;
    }
    struct stat ignored;
    EXPECT_NE(stat("/dev/shm/c%p.pcapng", &ignored), 0) << "%p not replaced";
    char nothing;
    EXPECT_EQ(read(reader, &nothing, 1), 0);
    close(reader);
    ASSERT_EQ(stat("/dev/shm/theirs.pcapng", &ignored), 0);
    EXPECT_EQ(ignored.st_size, 0);
}

// Sends the backend refuses are recorded from what the caller gave: no
// header is none, and a count above 4 describes 4 data buffers only.
TEST(Capture, RefusedSendsAreRecordedWithinWhatTheCallerGave) {
    const std::string file = "/dev/shm/refused.pcapng";
    const pid_t child = StartChild([&] {
        setenv("PELK_CAPTURE", file.c_str(), 1);
        cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
        char byte = 'x';
        void* buffers[5] = {&byte, &byte, &byte, &byte, &byte};
        unsigned int lengths[5] = {1, 1, 1, 1, 1};
        const PK_SEND_INFO send = {1, 0, 0, 2, 3, 9};
        const bool refused = lib->SendPelkorMessage(nullptr, 2, 3, 8, 0, nullptr, nullptr) != 0 &&
                             lib->SendMessage(&send, "h", 1, 5, buffers, lengths) == PKERR_BUFCOUNT;
        deletePelkLib(lib);
        return refused ? 0 : 1;
    });
    ASSERT_EQ(WaitChild(child), 0);
    Capture capture;
    ASSERT_TRUE(ReadCaptureFile(file, &capture)) << capture.error;
    ASSERT_EQ(capture.records.size(), 2u);
    EXPECT_TRUE(capture.records[0].header.empty() && capture.records[0].desc.Buflen[0] == 0);
    EXPECT_EQ(capture.records[1].desc.numbufs, 5u);
    EXPECT_EQ(capture.records[1].status, PKERR_BUFCOUNT);
}

// Four objects on threads of their own, then a fifth until the process is
// killed: each object's records come in order, and the file reads whole.
TEST(Capture, ObjectsOnManyThreadsShareOneFileReadableAfterSigkill) {
    Zbhost zbhost;
    ASSERT_TRUE(zbhost.WaitReady());
    constexpr unsigned int kThreads = 4, kTrips = 50;
    const std::string file = "/dev/shm/threads.pcapng";
    const pid_t child = StartChild([&] {
        setenv("PELK_CAPTURE", file.c_str(), 1);
        std::vector<std::thread> threads;
        for (unsigned int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
                bool ok = lib->Open(56, nullptr) == 0;
                for (unsigned int i = 0; ok && i < kTrips; ++i)
                    ok = RoundTrip(lib, t * 1000 + i) == 0;
                deletePelkLib(lib);
            });
        }
        for (auto& thread : threads) thread.join();
        cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
        for (unsigned int tag = 0; lib->Open(56, nullptr) == 0;) {
            while (RoundTrip(lib, tag++) == 0) {}
        }
        return 1;
    });
    // The four objects write about 100 kB.
    struct stat info = {};
    ASSERT_TRUE(
        Zbhost::WaitFor([&] { return stat(file.c_str(), &info) == 0 && info.st_size > 200000; }));
    kill(child, SIGKILL);
    EXPECT_EQ(WaitChild(child), -1);
    Capture capture;
    ASSERT_TRUE(ReadCaptureFile(file, &capture)) << capture.error;
    ASSERT_EQ(capture.interfaces.size(), kThreads + 1);
    EXPECT_GT(capture.records.size(), 1000u);
    // Per object: Open, then sent, received, buffers for each tag in turn.
    std::vector<std::vector<const CaptureRecord*>> per(kThreads + 1);
    for (const CaptureRecord& record : capture.records) per[record.interface].push_back(&record);
    for (unsigned int i = 0; i < kThreads; ++i) {
        ASSERT_EQ(per[i].size(), 1 + 3 * kTrips) << capture.interfaces[i];
        const unsigned int base = per[i][1]->desc.tag - per[i][1]->desc.tag % 1000;
        for (unsigned int trip = 0; trip < kTrips; ++trip) {
            const CaptureRecord* const* r = &per[i][1 + 3 * trip];
            EXPECT_TRUE(r[0]->kind == RecordKind::Sent && r[0]->flags == kFlagOutbound &&
                        r[1]->kind == RecordKind::Received && r[1]->flags == kFlagInbound &&
                        r[2]->kind == RecordKind::Buffers && r[2]->flags == kFlagInbound);
            EXPECT_TRUE(r[0]->desc.tag == base + trip && r[1]->desc.tag == base + trip);
            ASSERT_EQ(r[2]->data.size(), 1u);
            EXPECT_STREQ(reinterpret_cast<const char*>(r[2]->data[0].data()), "capture");
            EXPECT_LE(r[0]->timestampNs, r[1]->timestampNs);
        }
    }
}

}  // namespace

// Kernel-driver backend: Open, the single request path and the factories.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

TEST(UnixChannel, OpenSizesBuffersAndMovesTheDescriptorUp) {
    const unsigned int cases[][2] = {{0, 104}, {55, 104}, {56, 104}, {57, 105}, {1000, 1048}};
    for (const auto& c : cases) {
        SimDriver sim;
        cPelkLib_Unix lib;
        int handle = -1;
        ASSERT_EQ(lib.Open(c[0], &handle), 0);
        EXPECT_GE(handle, 256);
        EXPECT_EQ(handle, lib.GetWaitHandle());
        EXPECT_EQ(sim.openFds, std::set<int>{handle});  // the first descriptor is closed
        EXPECT_EQ(sim.openFlags, O_RDWR | O_NDELAY | O_CLOEXEC);
        EXPECT_EQ(sim.dupCommand, F_DUPFD_CLOEXEC);
        // The send buffer holds a header of exactly size - 48 bytes.
        std::vector<uint8_t> header(c[1] - 47);
        PK_SEND_INFO info = {};
        EXPECT_EQ(lib.SendMessage(&info, header.data(), c[1] - 47, 0, nullptr, nullptr), -13);
        EXPECT_EQ(lib.SendMessage(&info, header.data(), c[1] - 48, 0, nullptr, nullptr), 0);
    }
    SimDriver sim;
    {
        cPelkLib_Unix lib;
        ASSERT_EQ(lib.Open(0, nullptr), 0);
    }
    EXPECT_TRUE(sim.openFds.empty());  // the destructor closes the device
}

TEST(UnixChannel, FailedOrRepeatedOpenLeaksNothing) {
    {
        // Real system calls: the sandbox's /dev has no zb5t until a plain file
        // stands in for it; a descriptor limit of 256 leaves no room at 256 or
        // above, one of 300 does. A failed Open leaves the handle as it was.
        cPelkLib_Unix lib;
        int handle = 7;
        EXPECT_EQ(lib.Open(0, &handle), ENOENT);
        close(open("/dev/zb5t", O_CREAT | O_RDWR, 0600));
        rlimit saved;
        getrlimit(RLIMIT_NOFILE, &saved);
        for (const rlim_t limit : {256, 300}) {
            const rlimit lowered = {limit, saved.rlim_max};
            setrlimit(RLIMIT_NOFILE, &lowered);
            EXPECT_EQ(lib.Open(0, &handle), limit == 256 ? EINVAL : 0);
            EXPECT_EQ(handle, limit == 256 ? 7 : 256);
        }
        setrlimit(RLIMIT_NOFILE, &saved);
        unlink("/dev/zb5t");
    }
    SimDriver sim;
    for (int* error : {&sim.openError, &sim.dupError}) {
        *error = EMFILE;
        cPelkLib_Unix refused;
        EXPECT_EQ(refused.Open(0, nullptr), EMFILE);
        EXPECT_TRUE(sim.openFds.empty());
        EXPECT_EQ(refused.GetWaitHandle(), -1);
        // Flushing makes it idle, yet it is still not open.
        EXPECT_EQ(refused.FlushMessageBuffers(), -12);
        PK_REC_INFO info;
        unsigned int length = 0;
        EXPECT_EQ(refused.ReceiveMessage(&info, 0xFFFFFFFFu, 56, nullptr, &length), -8);
        PK_SEND_INFO sendInfo = {};
        EXPECT_EQ(refused.SendMessage(&sendInfo, nullptr, 0, 0, nullptr, nullptr), -12);
        *error = 0;
    }
    EXPECT_TRUE(sim.requests.empty());
    // A second Open releases the first descriptor and buffers and opens anew.
    cPelkLib_Unix twice;
    int first = -1, second = -1;
    ASSERT_EQ(twice.Open(0, &first), 0);
    ASSERT_EQ(twice.Open(200, &second), 0);
    EXPECT_EQ(sim.openFds, std::set<int>{second});
    EXPECT_EQ(twice.GetWaitHandle(), second);
    std::vector<uint8_t> header(200);
    PK_SEND_INFO sendInfo = {};
    EXPECT_EQ(twice.SendMessage(&sendInfo, header.data(), 200, 0, nullptr, nullptr), 0);
}

TEST(UnixChannel, IoctlChoosesTheArgumentAreaAndReportsTheCount) {
    SimDriver sim;
    cPelkLib_Unix lib;
    const uint32_t block = 0x01020304;
    unsigned int count = 77;
    ASSERT_EQ(lib.Open(0, nullptr), 0);

    // Block longer than the reply area: a temporary area; back come the
    // reply's bytes, at most as many as the area holds.
    for (unsigned int room : {2u, 3u}) {
        sim.replies[0x6605] = {3, {0xA1, 0xA2, 0xA3, 0xA4}};
        uint8_t small[4] = {0, 0, 0, 0x55};
        EXPECT_EQ(lib.Ioctl_Unix(0x6605, &block, 4, small, room, &count), 0);
        EXPECT_EQ(count, 3u);
        EXPECT_NE(sim.requests.back().area, small);
        EXPECT_EQ(sim.requests.back().block, std::vector<uint8_t>({4, 3, 2, 1}));
        EXPECT_EQ(std::vector<uint8_t>(small, small + 4),
                  std::vector<uint8_t>({0xA1, 0xA2, uint8_t(room == 2 ? 0 : 0xA3), 0x55}));
    }

    // Block fits: the reply area itself, starting with the block.
    sim.replies[0x6605] = {0, {}};
    uint8_t large[100];
    std::memset(large, 0xEE, sizeof large);
    EXPECT_EQ(lib.Ioctl_Unix(0x6605, &block, 4, large, 100, &count), 0);
    EXPECT_EQ(sim.requests.back().area, large);
    EXPECT_EQ(std::memcmp(large, &block, 4), 0);
    EXPECT_EQ(large[4], 0xEE);
    // Without an errno, GetError still reports a failure.
    errno = 0;
    EXPECT_EQ(lib.GetError(), -1);
}

TEST(Factories, MakeIndependentUnopenedKernelDriverObjects) {
    for (int type : {0, static_cast<int>(PELKLIB_DRIVER_QM), 4}) {
        EXPECT_EQ(NewPelkLibByType(static_cast<PELKLIB_DRIVER_TYPE>(type)), nullptr) << type;
    }
    cPelkLib* a = NewPelkLibByType(PELKLIB_DRIVER_ZB5T);
    cPelkLib* b = pelklibInit();
    ASSERT_TRUE(a != nullptr && b != nullptr && a != b);
    EXPECT_EQ(a->GetWaitHandle(), -1);
    EXPECT_EQ(b->GetWaitHandle(), -1);
    deletePelkLib(a);
    deletePelkLib(b);
    deletePelkLib(nullptr);
}

}  // namespace

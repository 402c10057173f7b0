// Kernel-driver backend: Open, the single request path and the factories.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
        EXPECT_TRUE(sim.requests.empty());

        // The send buffer holds a header of exactly size - 48 bytes.
        const unsigned int room = c[1] - 48;
        std::vector<uint8_t> header(room + 1);
        PK_SEND_INFO info = {};
        EXPECT_EQ(lib.SendMessage(&info, header.data(), room + 1, 0, nullptr, nullptr), -13);
        EXPECT_EQ(lib.SendMessage(&info, header.data(), room, 0, nullptr, nullptr), 0);
    }
    SimDriver sim;
    { cPelkLib_Unix lib; ASSERT_EQ(lib.Open(0, nullptr), 0); }
    EXPECT_TRUE(sim.openFds.empty());  // the destructor closes the device
}

TEST(UnixChannel, FailedOrRepeatedOpenLeaksNothing) {
    {
        cPelkLib_Unix lib;  // real system calls: the sandbox has no /dev/zb5t
        int handle = 7;
        EXPECT_EQ(lib.Open(0, &handle), ENOENT);
        EXPECT_EQ(handle, 7);
        EXPECT_EQ(lib.GetWaitHandle(), -1);
    }
    SimDriver sim;
    sim.openError = EACCES;
    cPelkLib_Unix refused;
    EXPECT_EQ(refused.Open(0, nullptr), EACCES);
    EXPECT_EQ(refused.GetWaitHandle(), -1);

    sim.openError = 0;
    sim.dupError = EMFILE;
    cPelkLib_Unix limited;
    EXPECT_EQ(limited.Open(0, nullptr), EMFILE);
    EXPECT_TRUE(sim.openFds.empty());
    EXPECT_EQ(limited.GetWaitHandle(), -1);
    EXPECT_EQ(limited.AssertBoardReset(1), -12);
    PK_REC_INFO info;
    unsigned int length;
    EXPECT_EQ(limited.ReceiveMessage(&info, 0, 56, nullptr, &length), -8);

    // A second Open releases the first descriptor and opens anew.
    sim.dupError = 0;
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
    EXPECT_EQ(lib.Ioctl_Unix(0x6605, &block, 4, nullptr, 0, &count), -12);
    EXPECT_EQ(count, 77u);
    ASSERT_EQ(lib.Open(0, nullptr), 0);

    // Block longer than the reply area: a temporary area, at most 2 bytes back.
    sim.replies[0x6605] = {4, {0xA1, 0xA2, 0xA3, 0xA4}};
    uint8_t small[3] = {0, 0, 0x55};
    EXPECT_EQ(lib.Ioctl_Unix(0x6605, &block, 4, small, 2, &count), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_NE(sim.requests.back().area, small);
    EXPECT_NE(sim.requests.back().area, &block);
    EXPECT_EQ(sim.requests.back().block, std::vector<uint8_t>({4, 3, 2, 1}));
    EXPECT_EQ(small[0], 0xA1);
    EXPECT_EQ(small[1], 0xA2);
    EXPECT_EQ(small[2], 0x55);

    // Block fits: the reply area itself, starting with the block.
    sim.replies[0x6605] = {0, {}};
    uint8_t large[100];
    std::memset(large, 0xEE, sizeof large);
    EXPECT_EQ(lib.Ioctl_Unix(0x6605, &block, 4, large, 100, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sim.requests.back().area, large);
    EXPECT_EQ(std::memcmp(large, &block, 4), 0);
    EXPECT_EQ(large[4], 0xEE);

    // Nothing in, nothing out: a null argument.
    count = 77;
    EXPECT_EQ(lib.Ioctl_Unix(0x6603, nullptr, 0, nullptr, 0, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sim.requests.back().area, nullptr);

    // Failure: count 0, -1, and the driver's errno for GetError.
    sim.faults[0x6605] = {EIO, 1};
    count = 77;
    EXPECT_EQ(lib.Ioctl_Unix(0x6605, &block, 4, large, 100, &count), -1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lib.GetError(), EIO);
    errno = 0;
    EXPECT_EQ(lib.GetError(), -1);
}

TEST(Factories, MakeIndependentUnopenedKernelDriverObjects) {
    cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZB5T);
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->GetWaitHandle(), -1);
    EXPECT_EQ(NewPelkLibByType(PELKLIB_DRIVER_QM), nullptr);
    EXPECT_EQ(NewPelkLibByType(static_cast<PELKLIB_DRIVER_TYPE>(0)), nullptr);
    EXPECT_EQ(NewPelkLibByType(static_cast<PELKLIB_DRIVER_TYPE>(4)), nullptr);
    cPelkLib* a = newPelkLib();
    cPelkLib* b = pelklibInit();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->GetWaitHandle(), -1);
    {
        SimDriver sim;
        ASSERT_EQ(a->Open(0, nullptr), 0);
        deletePelkLib(a);
        EXPECT_TRUE(sim.openFds.empty());
    }
    deletePelkLib(b);
    deletePelkLib(lib);
    deletePelkLib(nullptr);
}

}  // namespace

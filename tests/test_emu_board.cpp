// Emulator backend board operations: fixed answers, the emulated EEPROM,
// and board data in the host-wide shared-memory segment.
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "front/status_text.h"
#include "services/pxi.h"
#include "support/emu_runtime_side.h"

namespace {

TEST(EmuBoard, EmulatedEepromAreas) {
    cPelkLib_Emu lib;
    unsigned char buffer[120];
    unsigned int count = 99;
    std::memset(buffer, 0xAA, sizeof buffer);
    ASSERT_EQ(lib.ReadEEPROM(3, 0, 100, buffer, &count), 0);
    EXPECT_EQ(count, 20u);
    uint16_t words[4];
    std::memcpy(words, buffer, sizeof words);
    EXPECT_EQ(words[0], 0x6000);
    EXPECT_EQ(words[3], 0x06FF);
    EXPECT_EQ(buffer[20], 0xAA);  // no more than the area

    unsigned char bySlot[20];
    ASSERT_EQ(lib.ReadEEPROMbySlot(7, 9, 0, 20, bySlot, &count), 0);
    EXPECT_EQ(std::memcmp(bySlot, buffer, 20), 0);

    ASSERT_EQ(lib.ReadEEPROM(0, 20, 84, buffer, &count), 0);
    EXPECT_EQ(count, 84u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 85), std::string(84, '\0') + "\xAA");

    std::memset(buffer, 0xAA, sizeof buffer);
    for (unsigned int offset : {0u, 4u, 21u, 104u}) {
        count = 99;
        EXPECT_EQ(lib.ReadEEPROM(0, offset, 19, buffer, &count), 0);
        EXPECT_EQ(count, 0u) << offset;
    }
    EXPECT_EQ(buffer[0], 0xAA);
}

TEST(EmuBoard, FixedAnswersAndErrorTexts) {
    cPelkLib_Emu lib;
    StdoutCapture out;
    unsigned int first = 9, second = 9, count = 9;
    EXPECT_EQ(lib.GetDriverVersion(&first, &second), 0);
    EXPECT_EQ(first + second, 0u);
    PK_BOARD_MAPPING mapping;
    std::memset(&mapping, 0xFF, sizeof mapping);
    EXPECT_EQ(lib.GetBoardMapping(0, 4, &mapping), 0);
    const PK_BOARD_MAPPING want = {24, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&mapping, &want, sizeof want), 0);
    EXPECT_EQ(lib.DetectBoards(4, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_THAT((std::vector<int>{lib.AssertBoardReset(1), lib.SetBoardNumber(1, 2, 3)}),
                testing::Each(0));
    EXPECT_EQ(lib.LiftBoardReset(1, 0xFFFFFFFF), PKERR_UNKNOWN);
    count = 9;
    const int unsupported[] = {lib.GetDriverStats(0, 0, 256, nullptr, &count),
                               lib.ZeroDriverStats(0, 0), lib.RegisterForStateNotification(),
                               lib.IncrementBoardUseCount(0), lib.DecrementBoardUseCount(0),
                               lib.StartCore(0)};
    EXPECT_THAT(unsupported, testing::Each(-17));
    EXPECT_EQ(count, 9u);
    EXPECT_EQ(out.Take(), "");

    for (int code : {-2, -12, -13, 5}) {
        char mine[64], reference[64];
        errno = 2;
        lib.GetErrorText(code, mine, sizeof mine);
        errno = 2;
        PelkStatusText(code, reference, sizeof reference);
        EXPECT_STREQ(mine, reference) << code;
    }
}

TEST(EmuBoard, BoardDataIsSharedAndLastsAsLongAsItsOwner) {
    char buffer[64];
    unsigned int count = 77;
    EXPECT_EQ(cPelkLib_Emu().GetBoardData(0, 64, buffer, &count), ENOENT);
    EXPECT_EQ(count, 77u);
    auto owner = std::make_unique<cPelkLib_Emu>();
    char data[] = "0123456789";
    ASSERT_EQ(owner->SetBoardData(1, 10, data, &count), 0);
    EXPECT_EQ(count, 10u);

    // Another process, another board number, same data.
    std::string seen = InChild([] {
        cPelkLib_Emu other;
        char got[64];
        unsigned int n = 0;
        int status = other.GetBoardData(5, 4, got, &n);
        std::string r = std::to_string(status) + " " + std::string(got, n);
        status = other.GetBoardData(5, 64, got, &n);
        return r + " " + std::to_string(status) + " " + std::string(got, n);
    });
    EXPECT_EQ(seen, "0 0123 0 0123456789");

    // More than the segment holds is refused, also for an attached object.
    char big[20] = {};
    EXPECT_EQ(owner->SetBoardData(1, 11, big, &count), PKERR_WRONG_BUFSIZE);
    {   // An object that attached to it never removes it.
        cPelkLib_Emu attached;
        EXPECT_EQ(attached.SetBoardData(0, 20, big, &count), PKERR_WRONG_BUFSIZE);
        ASSERT_EQ(attached.SetBoardData(0, 3, big, &count), 0);
    }
    cPelkLib_Emu attached;
    ASSERT_EQ(attached.GetBoardData(0, 64, buffer, &count), 0);
    EXPECT_EQ(count, 3u);

    owner.reset();
    EXPECT_EQ(cPelkLib_Emu().GetBoardData(0, 64, buffer, &count), ENOENT);
}

TEST(EmuBoard, LengthWordNeverLeadsPastTheSegment) {
    uint32_t handle = 0;
    void* address = nullptr;
    ASSERT_EQ(pxiAllocShMem(ZBHOST_BOARD_DATA_SEGMENT, 8, &handle, &address), 0u);
    EXPECT_EQ(pxiAllocShMem(ZBHOST_BOARD_DATA_SEGMENT, 8, &handle, &address), PXI_SHMEM_EXISTS);
    EXPECT_EQ(pxiShMemSize(handle), 8u);
    const uint32_t lying = 1000;
    std::memcpy(address, &lying, 4);
    std::memcpy(static_cast<char*>(address) + 4, "abcd", 4);

    cPelkLib_Emu lib;
    char buffer[64];
    unsigned int count = 0;
    ASSERT_EQ(lib.GetBoardData(0, 64, buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, count), "abcd");
    pxiDeallocShMem(&handle, &address);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(address, nullptr);
}

// A segment made elsewhere: one still being sized is waited for, one too
// small for the length word is refused.
TEST(EmuBoard, SegmentsMadeElsewhere) {
    const int fd = shm_open("/ZBHOSTSETDATA", O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    std::thread creator([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(ftruncate(fd, 2), 0);
    });
    cPelkLib_Emu lib;
    char buffer[8];
    unsigned int count = 77;
    EXPECT_EQ(lib.GetBoardData(0, sizeof buffer, buffer, &count), EINVAL);
    EXPECT_EQ(lib.SetBoardData(0, 0, buffer, &count), EINVAL);
    EXPECT_EQ(count, 77u);
    creator.join();

    ASSERT_EQ(ftruncate(fd, 12), 0);
    const uint32_t stored = 3;
    ASSERT_EQ(pwrite(fd, &stored, 4, 0), 4);
    ASSERT_EQ(pwrite(fd, "xyz", 3, 4), 3);
    EXPECT_EQ(lib.GetBoardData(0, sizeof buffer, buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, count), "xyz");
    close(fd);
    shm_unlink("/ZBHOSTSETDATA");
}

}  // namespace

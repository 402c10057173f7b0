// Emulator backend board operations: fixed answers, the emulated EEPROM,
// and board data in the host-wide shared-memory segment.
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "services/statuses.h"
#include "support/child_process.h"
#include "support/emu_runtime_side.h"

namespace {

// Each area is read whole into a caller's buffer or not at all, by board
// and by slot alike.
TEST(EmuBoard, EmulatedEepromAreas) {
    cPelkLib_Emu lib;
    const std::string identity =
        std::string("\x00\x60\x00\x00\x00\x00\xFF\x06", 8) + std::string(12, '\0');
    const struct {
        unsigned int offset, length;
        std::string bytes;
    } reads[] = {{0, 100, identity}, {20, 84, std::string(84, '\0')},
                 {0, 19, ""},        {4, 19, ""},
                 {21, 19, ""},       {104, 19, ""}};
    for (const auto& read : reads) {
        for (bool bySlot : {false, true}) {
            std::string buffer(120, '\xAA');
            unsigned int count = 99;
            void* into = &buffer[0];
            EXPECT_EQ(bySlot ? lib.ReadEEPROMbySlot(7, 9, read.offset, read.length, into, &count)
                             : lib.ReadEEPROM(3, read.offset, read.length, into, &count),
                      0);
            EXPECT_EQ(buffer.substr(0, count), read.bytes) << read.offset << " " << read.length;
            EXPECT_EQ(buffer.substr(count), std::string(120 - count, '\xAA'));
        }
    }
}

TEST(EmuBoard, FixedAnswersAndErrorTexts) {
    cPelkLib_Emu lib;
    StdoutCapture out;
    unsigned int first = 9, second = 9, count = 9;
    PK_BOARD_MAPPING mapping;
    std::memset(&mapping, 0xFF, sizeof mapping);
    EXPECT_THAT((std::vector<int>{lib.GetDriverVersion(&first, &second),
                                  lib.GetBoardMapping(0, 4, &mapping),
                                  lib.DetectBoards(4, nullptr, nullptr, &count),
                                  lib.AssertBoardReset(1), lib.SetBoardNumber(1, 2, 3)}),
                testing::Each(0));
    EXPECT_EQ(first + second + count, 0u);
    const PK_BOARD_MAPPING want = {24, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&mapping, &want, sizeof want), 0);
    EXPECT_EQ(lib.LiftBoardReset(1, 0xFFFFFFFF), PKERR_UNKNOWN);
    count = 9;
    const int unsupported[] = {lib.GetDriverStats(0, 0, 256, nullptr, &count),
                               lib.ZeroDriverStats(0, 0),
                               lib.RegisterForStateNotification(),
                               lib.IncrementBoardUseCount(0),
                               lib.DecrementBoardUseCount(0),
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

// Its owner is the object that made it, in the process that made it.
TEST(EmuBoard, BoardDataIsSharedAndLastsAsLongAsItsOwner) {
    char buffer[64];
    unsigned int count = 77;
    EXPECT_EQ(cPelkLib_Emu().GetBoardData(0, 64, buffer, &count), ENOENT);
    EXPECT_EQ(count, 77u);
    auto owner = std::make_unique<cPelkLib_Emu>();
    char data[] = "0123456789";
    ASSERT_EQ(owner->SetBoardData(1, 10, data, &count), 0);
    EXPECT_EQ(count, 10u);

    // The owner's copy in a child of fork owns nothing: its end removes nothing.
    ASSERT_EQ(WaitChild(StartChild([&owner] {
                  owner.reset();
                  return 0;
              })),
              0);

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
    {  // An object that attached to it never removes it.
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

// A segment made elsewhere: one still being sized is waited for, one too
// small for the length word is refused, and a length word larger than the
// segment never leads past it.
TEST(EmuBoard, SegmentsMadeElsewhere) {
    const int fd = shm_open("/ZBHOSTSETDATA", O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    std::thread creator([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(ftruncate(fd, 2), 0);
    });
    cPelkLib_Emu lib;
    char buffer[64];
    unsigned int count = 77;
    EXPECT_EQ(lib.GetBoardData(0, sizeof buffer, buffer, &count), EINVAL);
    EXPECT_EQ(lib.SetBoardData(0, 0, buffer, &count), EINVAL);
    EXPECT_EQ(count, 77u);
    creator.join();

    ASSERT_EQ(ftruncate(fd, 12), 0);
    const uint32_t lying = 1000;
    ASSERT_EQ(pwrite(fd, &lying, 4, 0), 4);
    ASSERT_EQ(pwrite(fd, "abcdefgh", 8, 4), 8);
    EXPECT_EQ(lib.GetBoardData(0, sizeof buffer, buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, count), "abcdefgh");
    close(fd);
    shm_unlink("/ZBHOSTSETDATA");
}

}  // namespace

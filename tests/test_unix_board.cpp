// Kernel-driver backend: board control and information requests.
#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

std::vector<uint8_t> Words(std::vector<uint32_t> words) {
    std::vector<uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

class UnixBoard : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(lib.Open(0, nullptr), 0); }
    SimDriver sim;
    cPelkLib_Unix lib;
};

// Each operation: its request code and block; what it reports, and stores as
// count, when the device is not open and when the driver fails the request.
TEST(UnixBoardOperations, RequestBlockAndStatusUnopenedAndFailed) {
    SimDriver sim;
    cPelkLib_Unix opened, unopened;
    ASSERT_EQ(opened.Open(0, nullptr), 0);
    cPelkLib_Unix* lib = &unopened;
    uint8_t buffer[64] = {};
    PK_BOARD_MAPPING mapping;
    PK_GET_DRVR_STATS stats;
    unsigned int a = 55, b = 66, count = 99;
    uint8_t data[5] = {0xD1, 0xD2, 0xD3, 0xD4, 0xD5};
    const struct {
        std::function<int()> call;
        unsigned long code;
        std::vector<uint8_t> block;  // empty: no block
        unsigned int failedCount;    // 99: not stored
    } cases[] = {
        {[&] { return lib->GetBoardMapping(3, 24, &mapping); }, 0x6605, Words({3}), 99},
        {[&] { return lib->SetBoardNumber(1, 2, 3); }, 0x6606, Words({1, 2, 3}), 99},
        {[&] { return lib->AssertBoardReset(4); }, 0x6608, Words({4}), 99},
        {[&] { return lib->LiftBoardReset(5, 1000); }, 0x6609, Words({5}), 99},
        {[&] { return lib->GetDriverVersion(&a, &b); }, 0x660A, Words({12, 0, 0}), 99},
        {[&] { return lib->ReadEEPROM(6, 16, 8, buffer, &count); }, 0x660B, Words({6, 16, 8}), 99},
        {[&] { return lib->ReadEEPROM(6, 16, 0, buffer, &count); }, 0x660B, Words({6, 16, 0}), 99},
        {[&] { return lib->ReadEEPROMbySlot(1, 2, 16, 8, buffer, &count); }, 0x660C,
         Words({1, 2, 16, 8}), 99},
        {[&] { return lib->ReadEEPROMbySlot(1, 2, 16, 0, buffer, &count); }, 0x660C,
         Words({1, 2, 16, 0}), 99},
        {[&] { return lib->SetBoardData(7, 0, data, &count); }, 0x660D, Words({0, 7}), 0},
        {[&] { return lib->SetBoardData(7, 5, data, &count); },
         0x660D,
         {5, 0, 0, 0, 7, 0, 0, 0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0, 0, 0},
         0},
        {[&] { return lib->SetBoardData(7, 4, data, &count); },
         0x660D,
         {4, 0, 0, 0, 7, 0, 0, 0, 0xD1, 0xD2, 0xD3, 0xD4},
         0},
        {[&] { return lib->GetBoardData(8, 64, buffer, &count); }, 0x660E, Words({8}), 0},
        {[&] { return lib->DetectBoards(4, &a, &b, &count); }, 0x660F, {}, 99},
        {[&] { return lib->GetDriverStats(9, 10, sizeof stats, &stats, &count); }, 0x6611,
         Words({9, 10}), 0},
        {[&] { return lib->ZeroDriverStats(11, 12); }, 0x6612, Words({11, 12}), 99},
        {[&] { return lib->RegisterForStateNotification(); }, 0x6614, {}, 99},
        {[&] { return lib->IncrementBoardUseCount(13); }, 0x6615, Words({13}), 99},
        {[&] { return lib->DecrementBoardUseCount(14); }, 0x6616, Words({14}), 99},
        {[&] { return lib->StartCore(15); }, 0x6631, Words({15}), 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code << " " << c.block.size());
        int requests = 0;
        std::vector<uint8_t> block;
        sim.answer = [&](unsigned long code, uint8_t* area, int* result) {
            ++requests;
            EXPECT_EQ(code, c.code);
            if (area != nullptr) block.assign(area, area + c.block.size());
            errno = EIO;
            *result = -1;
            return true;
        };
        // Not open: no request; DetectBoards reports an empty list, the
        // others as if failed.
        lib = &unopened;
        count = 99;
        EXPECT_EQ(c.call(), c.code == 0x660B || c.code == 0x660C ? -1 : -12);
        EXPECT_EQ(count, c.code == 0x660F ? 0u : c.failedCount);
        lib = &opened;
        count = 99;
        EXPECT_EQ(c.call(), -1);
        sim.answer = nullptr;
        EXPECT_EQ(requests, 1);
        EXPECT_EQ(block, c.block);
        EXPECT_EQ(count, c.failedCount);
        EXPECT_EQ(opened.GetError(), EIO);
        EXPECT_EQ(a + b, 55u + 66u);
        EXPECT_EQ(c.call(), 0);
        a = 55;
        b = 66;
    }
    EXPECT_EQ(sim.pollTimeouts, std::vector<int>{1000});  // a failed release does not wait
}

TEST_F(UnixBoard, ReadsStoreOnlyWhatTheDriverFullyDelivered) {
    uint8_t buffer[20];
    unsigned int count = 99;
    sim.replies[0x660B] = sim.replies[0x660C] = {16, std::vector<uint8_t>(16, 0x77)};
    EXPECT_EQ(lib.ReadEEPROM(1, 0, 20, buffer, &count), -1);
    EXPECT_EQ(lib.ReadEEPROMbySlot(1, 2, 0, 20, buffer, &count), -1);
    EXPECT_EQ(count, 99u);
    sim.replies[0x660B] = {20, std::vector<uint8_t>(20, 0x78)};
    EXPECT_EQ(lib.ReadEEPROM(1, 0, 20, buffer, &count), 0);
    EXPECT_EQ(count, 20u);
    EXPECT_EQ(buffer[19], 0x78);

    unsigned int first = 1, second = 2;
    sim.replies[0x660A] = {12, Words({12, 4, 17})};
    ASSERT_EQ(lib.GetDriverVersion(&first, &second), 0);
    EXPECT_EQ(first * 100 + second, 417u);

    // The mapping comes whatever reply count the driver gives; an area
    // smaller than the record gets its leading bytes.
    PK_BOARD_MAPPING mapping;
    struct alignas(4) {
        uint8_t head[8];
        uint8_t guard[16];
    } partial;
    for (int replied : {24, 0}) {
        std::memset(&partial, 0xEE, sizeof partial);
        sim.replies[0x6605] = {replied, Words({24, 11, 12, 13, 14, 15})};
        ASSERT_EQ(lib.GetBoardMapping(1, sizeof mapping, &mapping), 0);
        EXPECT_EQ(mapping.word5, 15u);
        ASSERT_EQ(lib.GetBoardMapping(1, 8, reinterpret_cast<PK_BOARD_MAPPING*>(partial.head)), 0);
        EXPECT_EQ(std::vector<uint8_t>(partial.head, partial.head + 8), Words({24, 11}));
        EXPECT_EQ(partial.guard[0], 0xEE);
    }

    // A caller's area smaller than the request block or the whole record is
    // never the driver's area: it gets the leading bytes of the reply, and
    // the count is the driver's.
    sim.replies[0x660E] = {64, std::vector<uint8_t>(64, 0x42)};
    uint8_t small[16] = {};
    EXPECT_EQ(lib.GetBoardData(1, 0, nullptr, &count), 0);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(lib.GetBoardData(1, 2, small, &count), 0);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(small[1], 0x42);
    EXPECT_EQ(small[2], 0);
    sim.replies[0x6611] = {256, std::vector<uint8_t>(256, 0x43)};
    uint8_t fourBytes[4];
    EXPECT_EQ(lib.GetDriverStats(1, 2, 4, reinterpret_cast<PK_GET_DRVR_STATS*>(fourBytes), &count),
              0);
    EXPECT_EQ(count, 256u);
    EXPECT_EQ(fourBytes[3], 0x43);
}

TEST_F(UnixBoard, DetectionCountsEntriesAndNeverOverrunsItsArea) {
    sim.replies[0x660F] = {24, Words({1, 10, 2, 20, 3, 30})};
    unsigned int first[4] = {0, 0, 0, 0xF0}, second[4] = {0, 0, 0, 0xF0}, count = 99;
    ASSERT_EQ(lib.DetectBoards(4, first, second, &count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::vector<unsigned int>(first, first + 4),
              std::vector<unsigned int>({1, 2, 3, 0xF0}));
    EXPECT_EQ(std::vector<unsigned int>(second, second + 4),
              std::vector<unsigned int>({10, 20, 30, 0xF0}));

    // The driver is not told the area's size: a full house fits even for 0,
    // and no more entries than the maximum are copied.
    sim.replies[0x660F] = {512, std::vector<uint8_t>(512, 7)};
    ASSERT_EQ(lib.DetectBoards(0, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 64u);
    ASSERT_EQ(lib.DetectBoards(1, first, second, &count), 0);
    EXPECT_EQ(first[1], 2u);

    // Entries counted but not written read as 0.
    sim.replies[0x660F] = {24, Words({7, 70, 8, 80})};
    ASSERT_EQ(lib.DetectBoards(4, first, second, &count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(first[2] | second[2], 0u);
}

TEST_F(UnixBoard, LiftBoardResetWaitsForPollOutAlone) {
    EXPECT_EQ(lib.LiftBoardReset(1, 250), 0);
    EXPECT_EQ(sim.pollTimeouts, std::vector<int>{250});
    sim.readyEvents = POLLOUT | POLLERR;
    EXPECT_EQ(lib.LiftBoardReset(1, 0), -2);
    sim.readyEvents = POLLOUT | POLLWRNORM;  // as Linux drivers report it
    EXPECT_EQ(lib.LiftBoardReset(1, 0), 0);

    sim.pollInterrupts = 2;
    sim.pollTimeouts.clear();
    EXPECT_EQ(lib.LiftBoardReset(1, 0xFFFFFFFFu), 0);
    EXPECT_EQ(sim.pollTimeouts, std::vector<int>({-1, -1, -1}));
}

}  // namespace

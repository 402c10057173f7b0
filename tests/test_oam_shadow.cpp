// The board-identity table in shared memory: lookups, limits, processes
// writing at once, a supervisor killed holding the table's mutex or in the
// middle of a store, and segments whose content or size is wrong.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "oam/table_journal.h"
#include "support/board_table.h"
#include "support/child_process.h"

namespace {

constexpr size_t kRecord = sizeof(CBoardIDShadow);

// Each test starts on a segment that does not exist yet.
class OamShadow : public ::testing::Test {
protected:
    void SetUp() override {
        shm_unlink("/OAM_BoardIDsShadow");
        alarm(60);  // a hang fails the program instead of blocking the run
    }
    void TearDown() override {
        oamShadowExit();
        alarm(0);
    }
};

std::vector<CBoardIDShadow> ThreeBoards() {
    return {CBoardIDShadow("alpha", 1, "zb5t", "0"), CBoardIDShadow("beta", 2, "zbhost", "1"),
            CBoardIDShadow("gamma", 3, "zb5t", "2")};
}

// The names the table enumerates, each checked to end inside a large buffer;
// stops at the first status other than 0.
std::vector<std::string> Enumerate(int* endStatus) {
    std::vector<std::string> names;
    for (int i = 0;; ++i) {
        char name[200];
        std::memset(name, 'x', sizeof name);
        *endStatus = oamShadowBoardEnum(0, i, name, sizeof name);
        if (*endStatus != 0) return names;
        EXPECT_NE(std::memchr(name, '\0', sizeof name), nullptr);
        names.push_back(name);
    }
}

TEST_F(OamShadow, DetachedLookupsReportUnavailableAndWriteNothing) {
    for (int attachedBefore = 0; attachedBefore < 2; ++attachedBefore) {
        if (attachedBefore) {
            ASSERT_EQ(oamShadowInit(), 0);
            ASSERT_EQ(oamShadowExit(), 0);
        }
        EXPECT_EQ(oamShadowGetPtr(), nullptr);
        char name[8] = "keep", id[8] = "keep";
        uint32_t number = 99;
        bool flag = true;
        int count = 99;
        const int results[] = {oamShadowCopyTable(0, nullptr, 0, &count, &flag),
                               oamShadowBoardEnum(0, 0, name, 8),
                               oamShadowBoardEnum(0, -1, name, 8),
                               oamShadowBoardLookupByNumber(0, 1, name, 8),
                               oamShadowBoardLookupByDriverIDs(0, "zb5t", "0", name, 8),
                               oamShadowBoardGetNumber(0, "a", &number),
                               oamShadowBoardGetDriverIDs(0, "a", name, 8, id, 8),
                               oamShadowBoardGetIsUsingQmPlugin(0, &flag),
                               oamShadowBoardIsUsingALaw(0, "a", &flag)};
        for (int result : results) EXPECT_EQ(result, OAMSHADOW_ERR_UNAVAILABLE);
        EXPECT_EQ(std::string(name) + id + std::to_string(number + count) + (flag ? "t" : ""),
                  "keepkeep198t");
    }
}

TEST_F(OamShadow, LookupsFollowTableOrderAndIgnoreCase) {
    ASSERT_EQ(WriteTable({{"alpha", 10, "zb5t", "0"},
                          {"Beta", 11, "zb5t", "1"},
                          {"delta", 12, "qm", "0", true},
                          {"echo", 11, "zbhost", "2"},
                          {"Foxtrot", 14, "zb5t", "3"}},
                         true),
              0);
    ASSERT_EQ(oamShadowInit(), 0);
    CBoardIDsShadow* table = oamShadowGetPtr();
    EXPECT_EQ(oamShadowInit(), 0);  // a second attach keeps the table in use
    EXPECT_EQ(oamShadowGetPtr(), table);
    char name[120];
    std::vector<std::string> names;
    for (int i = 0; oamShadowBoardEnum(0, i, name, sizeof name) == 0; ++i) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "delta", "echo", "Foxtrot"}));
    EXPECT_EQ(oamShadowBoardEnum(0, -1, name, sizeof name), OAMSHADOW_ERR_NOT_FOUND);

    EXPECT_EQ(oamShadowBoardLookupByNumber(0, 11, name, sizeof name), 0);
    EXPECT_STREQ(name, "Beta");  // of the two boards numbered 11, the first
    EXPECT_EQ(oamShadowBoardLookupByDriverIDs(0, "ZBHOST", "2", name, sizeof name), 0);
    EXPECT_STREQ(name, "echo");
    uint32_t number = 0;
    bool alaw = false;
    EXPECT_EQ(oamShadowBoardGetNumber(0, "DELTA", &number), 0);
    EXPECT_EQ(number, 12u);
    EXPECT_EQ(oamShadowBoardIsUsingALaw(0, "Delta", &alaw), 0);
    EXPECT_TRUE(alaw);

    char driver[8] = "", id[1] = {'k'};
    EXPECT_EQ(oamShadowBoardGetDriverIDs(0, "foxtrot", driver, 8, id, 1),
              OAMSHADOW_ERR_UNAVAILABLE);
    EXPECT_STREQ(driver, "zb5t");  // delivered before the ID did not fit
    EXPECT_EQ(id[0], 'k');

    unsigned char bytes[3] = {0x55, 0x55, 0x55};
    EXPECT_EQ(oamShadowBoardGetIsUsingQmPlugin(0, reinterpret_cast<bool*>(&bytes[1])), 0);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 3),
              (std::vector<unsigned char>{0x55, 1, 0x55}));

    // The whole table at once: only when it all fits, the size always.
    OAMSHADOW_BOARD boards[5] = {};
    int count = 0;
    bool qm = false;
    EXPECT_EQ(oamShadowCopyTable(0, boards, 4, &count, &qm), OAMSHADOW_ERR_UNAVAILABLE);
    EXPECT_EQ(count, 5);
    EXPECT_FALSE(qm);
    EXPECT_STREQ(boards[0].name, "");
    ASSERT_EQ(oamShadowCopyTable(0, boards, 5, &count, &qm), 0);
    EXPECT_TRUE(qm);
    EXPECT_EQ(TableRows(),
              (std::vector<std::string>{"alpha 10 zb5t 0", "Beta 11 zb5t 1", "delta 12 qm 0 a",
                                        "echo 11 zbhost 2", "Foxtrot 14 zb5t 3"}));

    int index = -1;
    table->Lock();
    EXPECT_FALSE(table->FindByName("c", &index));  // between Beta and delta
    EXPECT_EQ(index, 2);
    table->Unlock();
}

TEST_F(OamShadow, TableThatWouldNotFitIsNotWritten) {
    CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
    ASSERT_EQ(writer.SetIsUsingQmPlugin(true), 0);
    for (int i = 0; i < 31; ++i) {
        ASSERT_EQ(writer.Insert(CBoardIDShadow(("b" + std::to_string(100 + i)).c_str(), i)), 0);
    }
    EXPECT_EQ(writer.Insert(CBoardIDShadow("b999", 99)), EOVERFLOW);
    EXPECT_EQ(writer.GetSize(), 31);
    EXPECT_TRUE(writer.GetIsUsingQmPlugin());
}

TEST_F(OamShadow, ProcessesCreatingTableAndMutexAtOnceLoseNoBoard) {
    shm_unlink("/OAM_BoardIDsShadowCZelSharedMemoryArray.mutex");
    const int kProcesses = 8;
    Signal start;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(StartChild([&, i] {
            start.Receive();
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            return writer.Insert(CBoardIDShadow(("board" + std::to_string(i)).c_str(), i));
        }));
    }
    for (int i = 0; i < kProcesses; ++i) start.Send();
    for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
    ASSERT_EQ(oamShadowInit(), 0);
    char name[16];
    for (int i = 0; i < kProcesses; ++i) {
        ASSERT_EQ(oamShadowBoardEnum(0, i, name, sizeof name), 0);
        EXPECT_EQ(name, "board" + std::to_string(i));
    }
}

TEST_F(OamShadow, SupervisorKilledHoldingTheMutex) {
    for (int depth : {1, 3}) {
        ASSERT_EQ(WriteTable(ThreeBoards()), 0);
        Signal holding;
        pid_t supervisor = StartChild([&] {
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            for (int i = 0; i < depth; ++i) writer.Lock();
            holding.Send();
            pause();
            return 0;
        });
        ASSERT_EQ(holding.Receive(), 1);
        kill(supervisor, SIGKILL);
        EXPECT_EQ(WaitChild(supervisor), -1);

        ASSERT_EQ(oamShadowInit(), 0);
        EXPECT_EQ(TableRows().size(), 3u);
        ASSERT_EQ(oamShadowExit(), 0);

        // The mutex is usable again, also by another process.
        pid_t next = StartChild([] { return WriteTable({{"alpha"}, {"beta"}}); });
        EXPECT_EQ(WaitChild(next), 0);
        ASSERT_EQ(oamShadowInit(), 0);
        EXPECT_EQ(TableRows().size(), 2u);
        ASSERT_EQ(oamShadowExit(), 0);
    }
}

int s_stepsLeft = 0;

// One write of a store done: the writer dies after the chosen one.
void StepTaken() {
    if (--s_stepsLeft == 0) raise(SIGKILL);
}

TEST_F(OamShadow, WriterKilledInAStoreLeavesTheOldOrTheNewTable) {
    const std::vector<CBoardIDShadow> after = {
        CBoardIDShadow("alpha", 7, "zbhost", "70"), CBoardIDShadow("delta", 4, "zb5t", "3"),
        CBoardIDShadow("epsilon", 5, "zb5t", "4"), CBoardIDShadow("gamma", 6, "qm", "5"),
        CBoardIDShadow("zeta", 8, "zb5t", "6")};
    const std::vector<std::string> tables[2] = {
        {"alpha 1 zb5t 0", "beta 2 zbhost 1", "gamma 3 zb5t 2"},
        {"alpha 7 zbhost 70", "delta 4 zb5t 3", "epsilon 5 zb5t 4", "gamma 6 qm 5",
         "zeta 8 zb5t 6"}};
    // Steps of the commit: image journaled, marked, each byte of the new
    // table (count, records, flag), mark cleared.
    const int steps = 2 + 4 + static_cast<int>(after.size() * kRecord) + 1 + 1;
    for (int stop = 1;; stop += stop < 3 || stop + 37 > steps ? 1 : 37) {
        ASSERT_EQ(WriteTable(ThreeBoards()), 0);
        pid_t child = StartChild([&] {
            s_stepsLeft = stop;
            g_tableStoreWrites = {[](uint32_t* at, uint32_t value) {
                                      *at = value;
                                      StepTaken();
                                  },
                                  [](void* to, const void* from, size_t length) {
                                      for (size_t i = 0; i < length; ++i) {
                                          static_cast<uint8_t*>(to)[i] =
                                              static_cast<const uint8_t*>(from)[i];
                                          StepTaken();
                                      }
                                  }};
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            return writer.Replace(after.data(), static_cast<int>(after.size()));
        });
        const bool killed = WaitChild(child) != 0;
        EXPECT_EQ(killed, stop <= steps) << stop;
        ASSERT_EQ(oamShadowInit(), 0);
        EXPECT_EQ(TableRows(), tables[stop > 1]) << stop;  // marked: finished from the journal
        ASSERT_EQ(oamShadowExit(), 0);
        if (!killed) break;
    }
}

// A segment of `size` bytes holding `bytes` from its start; none for size 0.
void WriteSegment(const std::string& bytes, size_t size, const char* name = "/OAM_BoardIDsShadow") {
    if (size == 0) return;
    int fd = shm_open(name, O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), std::min(bytes.size(), size), 0),
              static_cast<ssize_t>(std::min(bytes.size(), size)));
    close(fd);
}

// The first `size` bytes of the table's segment.
std::string SegmentBytes(size_t size) {
    std::string bytes(size, '\0');
    const int fd = shm_open("/OAM_BoardIDsShadow", O_RDONLY, 0);
    const ssize_t n = fd >= 0 ? pread(fd, &bytes[0], size, 0) : -1;
    if (fd >= 0) close(fd);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}

// A count and the three boards' images, or one image of bytes 'A' only.
std::string Table(int32_t count, bool unterminated = false) {
    std::string bytes(reinterpret_cast<const char*>(&count), sizeof count);
    if (unterminated) return bytes + std::string(kRecord, 'A');
    for (const CBoardIDShadow& board : ThreeBoards()) {
        bytes.append(reinterpret_cast<const char*>(&board), kRecord);
    }
    return bytes;
}

TEST_F(OamShadow, CorruptSegmentGivesStatuses) {
    struct Case {
        const char* what;
        std::string bytes;
        size_t size;
        size_t records;          // records a load can take
        bool found;              // the first name is found by name (the table is in order)
        bool journaled = false;  // a store of the three boards left complete in the journal
    } cases[] = {
        {"negative count", Table(-5), kBoardIDsShadowSize, 0, false},
        // 28 empty names follow: out of order, so the search misses alpha
        {"huge count", Table(0x7FFFFFFF), kBoardIDsShadowSize, 31, false},
        {"texts without terminator", Table(1, true), kBoardIDsShadowSize, 1, true},
        {"segment shorter than its count", Table(3), 4 + kRecord + 100, 1, true},
        {"journal longer than the segment", Table(-5), 4 + kRecord + 100, 1, true, true},
        {"segment shorter than a count", std::string("\x01\x00", 2), 2, 0, false},
        {"no segment yet: created empty", "", 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shm_unlink("/OAM_BoardIDsShadow");
        shm_unlink("/OAM_BoardIDsShadow.journal");
        WriteSegment(c.bytes, c.size);
        // "JRNL", length, tables made, reserved
        const uint32_t complete[4] = {0x4A524E4C, kBoardIDsShadowSize, 0, 0};
        WriteSegment(std::string(reinterpret_cast<const char*>(complete), 16) + Table(3),
                     c.journaled ? 16 + kBoardIDsShadowSize : 0, "/OAM_BoardIDsShadow.journal");
        ASSERT_EQ(oamShadowInit(), 0);
        int end = 0;
        std::vector<std::string> names = Enumerate(&end);
        EXPECT_EQ(end, OAMSHADOW_ERR_NOT_FOUND);
        EXPECT_EQ(names.size(), c.records);
        if (c.records > 0 && c.bytes.size() > 4 + kRecord - 1) {
            const char* first = c.bytes.data() + 4;
            EXPECT_EQ(names[0], std::string(first, strnlen(first, 128)));
        }

        char text[120] = "keep", id[120];
        uint32_t number = 7;
        bool flag = true;
        const char* name = names.empty() ? "alpha" : names[0].c_str();
        const int byName = oamShadowBoardGetNumber(0, name, &number);
        EXPECT_EQ(byName, c.found ? 0 : OAMSHADOW_ERR_NOT_FOUND);
        const int ids = oamShadowBoardGetDriverIDs(0, name, text, 120, id, 120);
        // A 128-character text does not fit 120 bytes and is not cut.
        if (!c.found) {
            EXPECT_EQ(ids, OAMSHADOW_ERR_NOT_FOUND);
        } else if (names[0].size() >= 120) {
            EXPECT_EQ(ids, OAMSHADOW_ERR_UNAVAILABLE);
            EXPECT_STREQ(text, "keep");
        } else {
            EXPECT_EQ(ids, 0);
        }
        char wide[2][200];  // a loaded ID ends within its 64 characters
        if (c.found) {
            ASSERT_EQ(oamShadowBoardGetDriverIDs(0, name, wide[0], 200, wide[1], 200), 0);
            EXPECT_LE(std::strlen(wide[1]), 64u);
        }
        EXPECT_EQ(oamShadowBoardLookupByNumber(0, 999, text, 120), OAMSHADOW_ERR_NOT_FOUND);
        EXPECT_EQ(oamShadowBoardLookupByDriverIDs(0, "none", "0", text, 120),
                  OAMSHADOW_ERR_NOT_FOUND);
        EXPECT_EQ(oamShadowBoardIsUsingALaw(0, "none", &flag), OAMSHADOW_ERR_NOT_FOUND);
        EXPECT_EQ(oamShadowBoardGetIsUsingQmPlugin(0, &flag), 0);
        ASSERT_EQ(oamShadowExit(), 0);
        // The lookups stored back what they loaded: the count of the
        // records taken, texts ending inside their fields, flags 0 or 1.
        const std::string stored = SegmentBytes(4 + kRecord);
        if (stored.size() == 4 + kRecord) {
            int32_t count;
            std::memcpy(&count, stored.data(), sizeof count);
            EXPECT_EQ(count, static_cast<int32_t>(c.records));
            const size_t alaw = 4 + offsetof(CBoardIDShadow, m_is_using_alaw);
            if (c.records > 0) {
                EXPECT_EQ(stored[4 + offsetof(CBoardIDShadow, m_driver_board_id) + 64], '\0');
                EXPECT_EQ(stored[alaw], c.bytes.size() > alaw && c.bytes[alaw] != 0 ? 1 : 0);
            }
        }
    }
}

}  // namespace

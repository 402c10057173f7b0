// Faults around the board-identity table: a supervisor killed while it holds
// the table's mutex or in the middle of a store, and segments whose content
// or size is wrong.
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

#include "oam/board_table_writer.h"
#include "oam/table_journal.h"
#include "support/child_process.h"

namespace {

constexpr size_t kRecord = sizeof(CBoardIDShadow);

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

class TableFaults : public ::testing::Test {
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

TEST_F(TableFaults, SupervisorKilledHoldingTheMutex) {
    for (int depth : {1, 3}) {
        {
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            std::vector<CBoardIDShadow> boards = ThreeBoards();
            ASSERT_EQ(writer.Replace(boards.data(), 3), 0);
        }
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
        int end = 0;
        EXPECT_EQ(Enumerate(&end), (std::vector<std::string>{"alpha", "beta", "gamma"}));
        ASSERT_EQ(oamShadowExit(), 0);

        // The mutex is usable again, also by another process.
        pid_t next = StartChild([] {
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            std::vector<CBoardIDShadow> boards = ThreeBoards();
            return writer.Replace(boards.data(), 2);
        });
        EXPECT_EQ(WaitChild(next), 0);
        ASSERT_EQ(oamShadowInit(), 0);
        EXPECT_EQ(Enumerate(&end), (std::vector<std::string>{"alpha", "beta"}));
        ASSERT_EQ(oamShadowExit(), 0);
    }
}

// Every board of the table: name, number, driver name and ID.
std::vector<std::string> Boards() {
    OAMSHADOW_BOARD copy[31];
    int count = 0;
    EXPECT_EQ(oamShadowCopyTable(0, copy, 31, &count, nullptr), 0);
    std::vector<std::string> boards;
    for (int i = 0; i < count; ++i) {
        boards.push_back(std::string(copy[i].name) + " " + std::to_string(copy[i].number) + " " +
                         copy[i].driverName + " " + copy[i].driverBoardID);
    }
    return boards;
}

int s_stepsLeft = 0;

TEST_F(TableFaults, WriterKilledInAStoreLeavesTheOldOrTheNewTable) {
    const std::vector<CBoardIDShadow> before = ThreeBoards(), after = {
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
        {
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            ASSERT_EQ(writer.Replace(before.data(), 3), 0);
        }
        pid_t child = StartChild([&] {
            s_stepsLeft = stop;
            g_tableCommitProbe = [] {
                if (--s_stepsLeft == 0) raise(SIGKILL);
            };
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            return writer.Replace(after.data(), static_cast<int>(after.size()));
        });
        const bool killed = WaitChild(child) != 0;
        EXPECT_EQ(killed, stop <= steps) << stop;
        ASSERT_EQ(oamShadowInit(), 0);
        EXPECT_EQ(Boards(), tables[stop > 1]) << stop;  // marked: finished from the journal
        ASSERT_EQ(oamShadowExit(), 0);
        if (!killed) break;
    }
}

// A segment of `size` bytes holding `bytes` from its start.
void WriteSegment(const std::string& bytes, size_t size) {
    int fd = shm_open("/OAM_BoardIDsShadow", O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), std::min(bytes.size(), size), 0),
              static_cast<ssize_t>(std::min(bytes.size(), size)));
    close(fd);
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

TEST_F(TableFaults, CorruptSegmentGivesStatuses) {
    struct Case {
        const char* what;
        std::string bytes;
        size_t size;
        size_t records;  // records a load can take
        bool found;      // the first name is found by name (the table is in order)
    } cases[] = {
        {"negative count", Table(-5), kBoardIDsShadowSize, 0, false},
        // 28 empty names follow: out of order, so the search misses alpha
        {"huge count", Table(0x7FFFFFFF), kBoardIDsShadowSize, 31, false},
        {"texts without terminator", Table(1, true), kBoardIDsShadowSize, 1, true},
        {"segment shorter than its count", Table(3), 4 + kRecord + 100, 1, true},
        {"segment shorter than a count", std::string("\x01\x00", 2), 2, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shm_unlink("/OAM_BoardIDsShadow");
        WriteSegment(c.bytes, c.size);
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
        EXPECT_EQ(oamShadowBoardLookupByNumber(0, 999, text, 120), OAMSHADOW_ERR_NOT_FOUND);
        EXPECT_EQ(oamShadowBoardLookupByDriverIDs(0, "none", "0", text, 120),
                  OAMSHADOW_ERR_NOT_FOUND);
        EXPECT_EQ(oamShadowBoardIsUsingALaw(0, "none", &flag), OAMSHADOW_ERR_NOT_FOUND);
        EXPECT_EQ(oamShadowBoardGetIsUsingQmPlugin(0, &flag), 0);
        ASSERT_EQ(oamShadowExit(), 0);
    }
}

}  // namespace

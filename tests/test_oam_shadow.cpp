#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <pelklib.h>

#include "oam/board_table_writer.h"
#include "support/child_process.h"

namespace {

// Each test starts on a segment that does not exist yet.
class OamShadow : public ::testing::Test {
protected:
    void SetUp() override { shm_unlink("/OAM_BoardIDsShadow"); }
    void TearDown() override { oamShadowExit(); }

    static int Write(std::vector<CBoardIDShadow> sorted, bool qm = false) {
        CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
        return writer.Replace(sorted.data(), static_cast<int>(sorted.size())) |
               writer.SetIsUsingQmPlugin(qm);
    }
};

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
        const int results[] = {
            oamShadowCopyTable(0, nullptr, 0, &count, &flag),
            oamShadowBoardEnum(0, 0, name, 8), oamShadowBoardLookupByNumber(0, 1, name, 8),
            oamShadowBoardLookupByDriverIDs(0, "zb5t", "0", name, 8),
            oamShadowBoardGetNumber(0, "a", &number),
            oamShadowBoardGetDriverIDs(0, "a", name, 8, id, 8),
            oamShadowBoardGetIsUsingQmPlugin(0, &flag), oamShadowBoardIsUsingALaw(0, "a", &flag)};
        for (int result : results) EXPECT_EQ(result, OAMSHADOW_ERR_UNAVAILABLE);
        EXPECT_STREQ(name, "keep");
        EXPECT_STREQ(id, "keep");
        EXPECT_EQ(number, 99u);
        EXPECT_EQ(count, 99);
        EXPECT_TRUE(flag);
    }
}

TEST_F(OamShadow, NewSegmentIsAnEmptyTable) {
    ASSERT_EQ(oamShadowInit(), 0);
    CBoardIDsShadow* table = oamShadowGetPtr();
    EXPECT_EQ(oamShadowInit(), 0);  // a second attach keeps the table in use
    EXPECT_EQ(oamShadowGetPtr(), table);
    char name[16] = "keep";
    uint32_t number;
    bool flag = true;
    EXPECT_EQ(oamShadowBoardEnum(0, 0, name, 16), OAMSHADOW_ERR_NOT_FOUND);
    EXPECT_EQ(oamShadowBoardLookupByNumber(0, 0, name, 16), OAMSHADOW_ERR_NOT_FOUND);
    EXPECT_EQ(oamShadowBoardLookupByDriverIDs(0, "", "", name, 16), OAMSHADOW_ERR_NOT_FOUND);
    EXPECT_EQ(oamShadowBoardGetNumber(0, "", &number), OAMSHADOW_ERR_NOT_FOUND);
    EXPECT_EQ(oamShadowBoardIsUsingALaw(0, "", &flag), OAMSHADOW_ERR_NOT_FOUND);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(oamShadowBoardGetIsUsingQmPlugin(0, &flag), 0);
    EXPECT_FALSE(flag);
}

TEST_F(OamShadow, LookupsFollowTableOrderAndIgnoreCase) {
    ASSERT_EQ(Write({CBoardIDShadow("alpha", 10, "zb5t", "0"),
                     CBoardIDShadow("Beta", 11, "zb5t", "1"),
                     CBoardIDShadow("delta", 12, "qm", "0", true),
                     CBoardIDShadow("echo", 11, "zbhost", "2"),
                     CBoardIDShadow("Foxtrot", 14, "zb5t", "3")},
                    true),
              0);
    ASSERT_EQ(oamShadowInit(), 0);
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
    std::vector<std::string> copied;
    for (const OAMSHADOW_BOARD& b : boards) {
        copied.push_back(std::string(b.name) + " " + std::to_string(b.number) + " " +
                         b.driverName + " " + b.driverBoardID + (b.isUsingALaw ? " a" : ""));
    }
    EXPECT_EQ(copied, (std::vector<std::string>{"alpha 10 zb5t 0", "Beta 11 zb5t 1",
                                                "delta 12 qm 0 a", "echo 11 zbhost 2",
                                                "Foxtrot 14 zb5t 3"}));

    CBoardIDsShadow* table = oamShadowGetPtr();
    int index = -1;
    table->Lock();
    EXPECT_FALSE(table->FindByName("c", &index));  // between Beta and delta
    EXPECT_EQ(index, 2);
    table->Unlock();
}

TEST_F(OamShadow, NameMustFitWithItsTerminator) {
    std::string name119(119, 'a'), name120(120, 'b');
    ASSERT_EQ(Write({CBoardIDShadow(name119.c_str(), 1), CBoardIDShadow(name120.c_str(), 2)}), 0);
    ASSERT_EQ(oamShadowInit(), 0);
    char name[120];
    EXPECT_EQ(oamShadowBoardLookupByNumber(0, 1, name, sizeof name), 0);
    EXPECT_EQ(name, name119);
    EXPECT_EQ(oamShadowBoardLookupByNumber(0, 2, name, sizeof name), OAMSHADOW_ERR_UNAVAILABLE);
    EXPECT_EQ(name, name119);
}

TEST_F(OamShadow, CorruptSegmentIsReadWithinItsBounds) {
    ASSERT_EQ(oamShadowInit(), 0);
    CZelStreamSharedMemory raw(kBoardIDsShadowName, kBoardIDsShadowSize);
    std::vector<unsigned char> unterminated(332, 'Z');
    char name[200];
    for (int count : {-3, 1 << 30}) {
        raw.Flush();
        raw << count;
        while (raw.WriteBlock(unterminated.data(), 332) == 332) {
        }
        int expected = count < 0 ? 0 : 31;
        EXPECT_EQ(oamShadowGetPtr()->GetSize(), expected);
        EXPECT_EQ(oamShadowBoardEnum(0, expected, name, sizeof name), OAMSHADOW_ERR_NOT_FOUND);
    }
    EXPECT_EQ(oamShadowBoardEnum(0, 30, name, sizeof name), 0);
    EXPECT_EQ(std::string(name), std::string(128, 'Z'));
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

TEST_F(OamShadow, OtherProcessesSeeEveryChangeAndWaitForTheLastUnlock) {
    ASSERT_EQ(oamShadowInit(), 0);
    CBoardIDsShadow* table = oamShadowGetPtr();
    EXPECT_EQ(table->GetSize(), 0);
    auto addBoard = [](const char* name) {
        return StartChild([name] {
            CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
            return writer.Insert(CBoardIDShadow(name, 5));
        });
    };
    EXPECT_EQ(WaitChild(addBoard("added")), 0);
    EXPECT_EQ(table->GetSize(), 1);

    table->Lock();
    EXPECT_STREQ((*table)[0].GetName(), "added");
    pid_t writer = addBoard("blocked");
    usleep(200 * 1000);
    EXPECT_EQ(waitpid(writer, nullptr, WNOHANG), 0) << "the writer got past the lock";
    EXPECT_EQ(table->GetSize(), 1);
    table->Unlock();
    EXPECT_EQ(WaitChild(writer), 0);
    EXPECT_EQ(table->GetSize(), 2);
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

}  // namespace

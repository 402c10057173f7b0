#include <algorithm>
#include <string>
#include <strings.h>
#include <sys/mman.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "emu/pelklib_emu.h"
#include "oam/board_table_writer.h"
#include "unix/pelklib.h"

namespace {

struct Board {
    std::string name;
    uint32_t number;
    std::string driver;
    std::string id;
};

class Resolution : public ::testing::Test {
protected:
    void SetUp() override { shm_unlink("/OAM_BoardIDsShadow"); }
    void TearDown() override { PelklibDetachOAM(); }

    static void Write(std::vector<Board> boards) {
        std::sort(boards.begin(), boards.end(), [](const Board& a, const Board& b) {
            return strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
        });
        std::vector<CBoardIDShadow> records;
        for (const Board& b : boards) {
            records.emplace_back(b.name.c_str(), b.number, b.driver.c_str(), b.id.c_str());
        }
        CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
        ASSERT_EQ(writer.Replace(records.data(), static_cast<int>(records.size())), 0);
    }

    // Resolves with sentinel outputs; they must stay put unless the status is 0.
    static int Resolve(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
        // 0 is no driver type but lies in the enumeration's range.
        *type = static_cast<PELKLIB_DRIVER_TYPE>(0);
        *id = 12345;
        int status = PelklibGetBoardDriver(board, type, id);
        if (status != 0) {
            EXPECT_EQ(*type, 0) << board;
            EXPECT_EQ(*id, 12345u) << board;
        }
        return status;
    }
};

TEST_F(Resolution, DriverBoardIDTextsFollowStrtol) {
    const struct {
        const char* text;
        int status;
        unsigned int id;
    } cases[] = {{"7", 0, 7},      {" 7", 0, 7},      {"+7", 0, 7},  {"7 ", -16, 0},
                 {"7a", -16, 0},   {"", -16, 0},      {"0x7", -16, 0}, {"-1", 0, 4294967295u},
                 {"4000000000", 0, 4000000000u}};
    std::vector<Board> boards;
    uint32_t number = 1;
    for (const auto& c : cases) {
        boards.push_back({"board" + std::to_string(number), number, "zb5t", c.text});
        ++number;
    }
    Write(boards);
    PelklibAttachOAM();
    number = 1;
    for (const auto& c : cases) {
        PELKLIB_DRIVER_TYPE type;
        unsigned int id;
        EXPECT_EQ(Resolve(number, &type, &id), c.status) << '"' << c.text << '"';
        if (c.status == 0) {
            EXPECT_EQ(type, PELKLIB_DRIVER_ZB5T);
            EXPECT_EQ(id, c.id) << '"' << c.text << '"';
        }
        ++number;
    }
}

TEST_F(Resolution, DriverNamesAndFailures) {
    Write({{"upper", 1, "ZB5T", "3"},
           {"mixed", 2, "Zb5T", "4"},
           {"emulated", 3, "ZBHOST", "5"},
           {"qmboard", 4, "qm", "6"},
           {"strange", 5, "isdn", "7"},
           {"strangeBadID", 6, "isdn", "x"},
           {std::string(120, 'n'), 7, "zb5t", "1"},
           {std::string(119, 'm'), 8, "zb5t", "2"}});
    PELKLIB_DRIVER_TYPE type;
    unsigned int id;
    EXPECT_EQ(Resolve(1, &type, &id), -14);  // not attached yet

    PelklibAttachOAM();
    EXPECT_EQ(Resolve(1, &type, &id), 0);
    EXPECT_EQ(type, PELKLIB_DRIVER_ZB5T);
    EXPECT_EQ(id, 3u);
    EXPECT_EQ(Resolve(2, &type, &id), 0);
    EXPECT_EQ(type, PELKLIB_DRIVER_ZB5T);
    EXPECT_EQ(Resolve(3, &type, &id), 0);
    EXPECT_EQ(type, PELKLIB_DRIVER_ZBHOST);
    EXPECT_EQ(Resolve(4, &type, &id), 0);
    EXPECT_EQ(type, PELKLIB_DRIVER_QM);
    EXPECT_EQ(id, 6u);
    EXPECT_EQ(Resolve(5, &type, &id), -15);
    EXPECT_EQ(Resolve(6, &type, &id), -16);  // the ID is tested before the name
    EXPECT_EQ(Resolve(7, &type, &id), OAMSHADOW_ERR_UNAVAILABLE);
    EXPECT_EQ(Resolve(8, &type, &id), 0);
    EXPECT_EQ(Resolve(99, &type, &id), -16);

    type = static_cast<PELKLIB_DRIVER_TYPE>(0);
    EXPECT_EQ(PelklibGetBoardDriver(3, &type, nullptr), 0);
    EXPECT_EQ(type, PELKLIB_DRIVER_ZBHOST);
}

TEST_F(Resolution, AttachesAreNotCountedAndCreationLeavesTheProcessDetached) {
    Write({{"driver", 1, "zb5t", "0"}, {"emulated", 2, "zbhost", "0"}, {"qm", 3, "qm", "0"}});
    PELKLIB_DRIVER_TYPE type;
    unsigned int id;
    PelklibAttachOAM();
    PelklibAttachOAM();
    PelklibDetachOAM();
    EXPECT_EQ(Resolve(1, &type, &id), -14);

    PelklibAttachOAM();
    cPelkLib* driver = NewPelkLibByBoardNumber(1);
    ASSERT_NE(driver, nullptr);
    EXPECT_NE(dynamic_cast<cPelkLib_Unix*>(driver), nullptr);
    EXPECT_EQ(driver->GetWaitHandle(), -1);  // not opened
    deletePelkLib(driver);
    EXPECT_EQ(Resolve(1, &type, &id), -14);

    cPelkLib* emulated = NewPelkLibByBoardNumber(2);
    EXPECT_NE(dynamic_cast<cPelkLib_Emu*>(emulated), nullptr);
    deletePelkLib(emulated);
    EXPECT_EQ(NewPelkLibByBoardNumber(3), nullptr);  // qm has no backend
    EXPECT_EQ(NewPelkLibByBoardNumber(4), nullptr);
    EXPECT_EQ(oamShadowGetPtr(), nullptr);
}

// Attach, detach, resolution and creation from several threads at once
// never touch a released table (run under ThreadSanitizer too).
TEST_F(Resolution, ThreadsResolveAttachAndDetachTogether) {
    Write({{"driver", 1, "zb5t", "9"}, {"emulated", 2, "zbhost", "8"}});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                PELKLIB_DRIVER_TYPE type;
                unsigned int id = 0;
                switch ((i + t) % 4) {
                    case 0: PelklibAttachOAM(); break;
                    case 1: PelklibDetachOAM(); break;
                    case 2: {
                        int status = PelklibGetBoardDriver(1, &type, &id);
                        EXPECT_TRUE(status == -14 || (status == 0 && id == 9u)) << status;
                        break;
                    }
                    default: deletePelkLib(NewPelkLibByBoardNumber(2)); break;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace

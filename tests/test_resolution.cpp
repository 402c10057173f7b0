#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "emu/pelklib_emu.h"
#include "support/board_table.h"
#include "unix/pelklib.h"

namespace {

class Resolution : public ::testing::Test {
protected:
    void SetUp() override { shm_unlink("/OAM_BoardIDsShadow"); }
    void TearDown() override { PelklibDetachOAM(); }

    // Resolves with sentinel outputs; they must stay put unless the status is 0.
    // The type's sentinel is no valid value, so it is set and checked bytewise.
    static int Resolve(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
        std::memset(type, 0x5A, sizeof *type);
        *id = 12345;
        int status = PelklibGetBoardDriver(board, type, id);
        if (status != 0) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(type);
            EXPECT_EQ(std::count(bytes, bytes + sizeof *type, 0x5A), sizeof *type) << board;
            EXPECT_EQ(*id, 12345u) << board;
        }
        return status;
    }
};

// Board n of the table is cases[n - 1]; IDs are read as strtol does, the
// driver name without regard to case, the ID before the name.
TEST_F(Resolution, DriverNamesIDTextsAndFailures) {
    const PELKLIB_DRIVER_TYPE zb5t = PELKLIB_DRIVER_ZB5T, none = {};
    const std::string n120(120, 'n'), m128(128, 'm'), d128 = "zb5t" + std::string(124, 'd'),
                                                      id64 = std::string(63, '0') + "9";
    const struct {
        const char* driver;
        const char* id;
        int status;
        PELKLIB_DRIVER_TYPE type;
        unsigned int value;
        const char* name;  // null: "board" and the number
    } cases[] = {{"zb5t", "7", 0, zb5t, 7, nullptr},
                 {"zb5t", " 7", 0, zb5t, 7, nullptr},
                 {"zb5t", "+7", 0, zb5t, 7, nullptr},
                 {"zb5t", "7 ", -16, none, 0, nullptr},
                 {"zb5t", "7a", -16, none, 0, nullptr},
                 {"zb5t", "", -16, none, 0, nullptr},
                 {"zb5t", "0x7", -16, none, 0, nullptr},
                 {"zb5t", "-1", 0, zb5t, 4294967295u, nullptr},
                 {"zb5t", "4000000000", 0, zb5t, 4000000000u, nullptr},
                 {"zb5t", "99999999999", 0, zb5t, 4294967295u, nullptr},
                 {"Zb5T", "4", 0, zb5t, 4, nullptr},
                 {"ZBHOST", "5", 0, PELKLIB_DRIVER_ZBHOST, 5, nullptr},
                 {"qm", "6", 0, PELKLIB_DRIVER_QM, 6, nullptr},
                 {"isdn", "7", -15, none, 0, nullptr},
                 {"isdn", "x", -16, none, 0, nullptr},
                 {"zb5t", "1", 0, zb5t, 1, n120.c_str()},  // texts as long as their fields
                 {"zb5t", "2", 0, zb5t, 2, m128.c_str()},
                 {d128.c_str(), "3", -15, none, 0, nullptr},
                 {"zb5t", id64.c_str(), 0, zb5t, 9, nullptr}};
    std::vector<CBoardIDShadow> boards;
    for (const auto& c : cases) {
        const std::string number = std::to_string(boards.size() + 1);
        boards.emplace_back(c.name ? c.name : ("board" + number).c_str(), boards.size() + 1,
                            c.driver, c.id);
    }
    ASSERT_EQ(WriteTable(boards), 0);
    PELKLIB_DRIVER_TYPE type;
    unsigned int id;
    EXPECT_EQ(Resolve(1, &type, &id), -14);  // not attached yet
    PelklibAttachOAM();
    uint32_t number = 0;
    for (const auto& c : cases) {
        ++number;
        EXPECT_EQ(Resolve(number, &type, &id), c.status) << c.driver << " \"" << c.id << '"';
        if (c.status == 0) {
            EXPECT_EQ(type, c.type) << number;
            EXPECT_EQ(id, c.value) << number;
        }
    }
    EXPECT_EQ(Resolve(99, &type, &id), -16);
    std::memset(&type, 0x5A, sizeof type);
    EXPECT_EQ(PelklibGetBoardDriver(12, &type, nullptr), 0);
    EXPECT_EQ(type, PELKLIB_DRIVER_ZBHOST);
}

TEST_F(Resolution, AttachesAreNotCountedAndCreationLeavesTheProcessDetached) {
    ASSERT_EQ(
        WriteTable(
            {{"driver", 1, "zb5t", "0"}, {"emulated", 2, "zbhost", "0"}, {"qm", 3, "qm", "0"}}),
        0);
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

// Creation by board number keeps the table open between its resolutions,
// but meets a segment the supervisor made anew at once, and one removed
// behind the library's back within a second; the process stays detached.
TEST_F(Resolution, CreationMeetsATableReplacedOrRemoved) {
    auto created = [](int board) {
        cPelkLib* lib = NewPelkLibByBoardNumber(board);
        const char* kind = dynamic_cast<cPelkLib_Unix*>(lib) != nullptr  ? "unix"
                           : dynamic_cast<cPelkLib_Emu*>(lib) != nullptr ? "emu"
                                                                         : "none";
        deletePelkLib(lib);
        return std::string(kind);
    };
    ASSERT_EQ(WriteTable({{"board", 1, "zb5t", "0"}}), 0);
    EXPECT_EQ(created(1), "unix");
    ASSERT_EQ(WriteTable({{"board", 1, "zbhost", "0"}}), 0);  // the same segment changed
    EXPECT_EQ(created(1), "emu");
    shm_unlink("/OAM_BoardIDsShadow");
    ASSERT_EQ(WriteTable({{"board", 1, "zb5t", "0"}, {"other", 2, "zbhost", "0"}}), 0);
    EXPECT_EQ(created(2), "emu");
    EXPECT_EQ(created(1), "unix");
    PELKLIB_DRIVER_TYPE type;
    unsigned int id;
    EXPECT_EQ(Resolve(1, &type, &id), -14);
    EXPECT_EQ(oamShadowGetPtr(), nullptr);

    shm_unlink("/OAM_BoardIDsShadow");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(created(1), "none");  // a table made anew, empty
    PelklibAttachOAM();
    EXPECT_EQ(Resolve(1, &type, &id), -16);
}

// Attach, detach, resolution, creation and the table's own lookups from
// several threads at once never touch a released table (run under
// ThreadSanitizer and AddressSanitizer).
TEST_F(Resolution, ThreadsResolveAttachAndDetachTogether) {
    ASSERT_EQ(WriteTable({{"driver", 1, "zb5t", "9"}, {"emulated", 2, "zbhost", "8"}}), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) {
                PELKLIB_DRIVER_TYPE type;
                unsigned int id = 0;
                char name[16] = "";
                int status;
                switch ((i + t) % 6) {
                    case 0: PelklibAttachOAM(); break;
                    case 1: PelklibDetachOAM(); break;
                    case 2:
                        status = PelklibGetBoardDriver(1, &type, &id);
                        EXPECT_TRUE(status == -14 || status == OAMSHADOW_ERR_UNAVAILABLE ||
                                    (status == 0 && id == 9u))
                            << status;
                        break;
                    case 3: deletePelkLib(NewPelkLibByBoardNumber(2)); break;
                    case 4: (t % 2 ? oamShadowInit : oamShadowExit)(); break;
                    default:
                        status = oamShadowBoardEnum(0, 1, name, sizeof name);
                        EXPECT_TRUE(status == OAMSHADOW_ERR_UNAVAILABLE ||
                                    (status == 0 && std::string(name) == "emulated"))
                            << status;
                        break;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace

// Several threads at once: each with its own emulator object round-tripping
// through zbhost, and lookups in the board table while another thread
// rewrites it.
#include <sys/mman.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "oam/board_table_writer.h"
#include "support/zbhost_process.h"

namespace {

constexpr int kThreads = 4;

TEST(Threads, EmulatorObjectPerThread) {
    Zbhost zbhost;
    ASSERT_TRUE(zbhost.WaitReady());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            cPelkLib_Emu lib;
            if (lib.Open(0, nullptr) != 0) return void(++failures);
            for (unsigned int round = 0; round < 50; ++round) {
                const std::string header = "thread " + std::to_string(t);
                std::string data(100 + round, static_cast<char>('a' + t)), back(data.size(), 0);
                void *out[1] = {&data[0]}, *in[4] = {&back[0]};
                unsigned int lengths[1] = {static_cast<unsigned int>(data.size())}, headerLen = 0;
                PK_SEND_INFO send = {1, 0, 0, 2, 3, round};
                PK_REC_INFO info;
                char received[56];
                if (lib.SendMessage(&send, header.data(), static_cast<unsigned int>(header.size()),
                                    1, out, lengths) != 0 ||
                    lib.ReceiveMessage(&info, 10000, sizeof received, received, &headerLen) != 0 ||
                    info.tag != round || info.bufLen[0] != data.size() ||
                    lib.ReceiveBuffers(info.bufLen, in) != 0 ||
                    std::string(received, headerLen) != header || back != data) {
                    return void(++failures);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
}

TEST(Threads, LookupsWhileTheTableChanges) {
    shm_unlink("/OAM_BoardIDsShadow");
    // Two tables a reader may see: board 1 is "a" on zb5t ID 10 or "b" on
    // zb5t ID 11. A resolution that mixed them would find a zbhost board.
    const std::vector<CBoardIDShadow> tables[2] = {
        {CBoardIDShadow("a", 1, "zb5t", "10"), CBoardIDShadow("b", 2, "zbhost", "20")},
        {CBoardIDShadow("a", 2, "zbhost", "21"), CBoardIDShadow("b", 1, "zb5t", "11")}};
    CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
    ASSERT_EQ(writer.Replace(tables[0].data(), 2), 0);
    PelklibAttachOAM();

    std::atomic<bool> done{false};
    std::atomic<int> failures{0}, reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t) {
        readers.emplace_back([&] {
            for (; !done; ++reads) {
                char driver[129], id[65];
                PELKLIB_DRIVER_TYPE type;
                unsigned int number = 0;
                if (oamShadowBoardGetDriverIDs(0, "a", driver, 129, id, 65) != 0 ||
                    PelklibGetBoardDriver(1, &type, &number) != 0) {
                    ++failures;
                    continue;
                }
                const std::string ids = std::string(driver) + " " + id;
                if (ids != "zb5t 10" && ids != "zbhost 21") ++failures;
                if (type != PELKLIB_DRIVER_ZB5T || (number != 10 && number != 11)) ++failures;
                OAMSHADOW_BOARD copy[2];
                int count = 0;
                if (oamShadowCopyTable(0, copy, 2, &count, nullptr) != 0 || count != 2 ||
                    copy[0].number + copy[1].number != 3 || copy[0].number == copy[1].number ||
                    std::string(copy[0].driverBoardID) != (copy[0].number == 1 ? "10" : "21")) {
                    ++failures;
                }
            }
        });
    }
    // The table keeps changing until the readers have done their share.
    for (int change = 0; change < 200 || reads < 20000; ++change) {
        if (writer.Replace(tables[change % 2].data(), 2) != 0) ++failures;
    }
    done = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(failures, 0);
    PelklibDetachOAM();
}

}  // namespace

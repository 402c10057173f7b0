// Remote objects through a real pelkd in front of a real zbhost answer as
// local objects do: every board operation and messages of every shape,
// compared step by step with a local emulator object; the table and its
// resolution as the local functions read them; PELK_REMOTE in the factories.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "support/remote_fixture.h"

namespace {

using Step = std::function<std::string(cPelkLib&)>;

std::string Hex(const void* bytes, size_t length) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<const uint8_t*>(bytes)[i]);
        text += digits;
    }
    return text;
}

class Remote : public RemoteTest {
protected:
    // Runs steps on a local object, then (its board data gone with it) on a
    // remote one: each step must leave the same record.
    void Compare(const std::vector<Step>& steps) {
        std::vector<std::string> records[2];
        for (bool remote : {false, true}) {
            Lib lib = Make(remote);
            ASSERT_EQ(lib->Open(56, nullptr), 0);
            for (const Step& step : steps) records[remote].push_back(step(*lib));
        }
        for (size_t i = 0; i < steps.size(); ++i)
            EXPECT_EQ(records[1][i], records[0][i]) << "step " << i;
    }
};

std::string ReadEeprom(cPelkLib& lib, bool bySlot, unsigned int offset, unsigned int length) {
    std::string buffer(120, '\xAA');
    unsigned int count = 99;
    const int status = bySlot ? lib.ReadEEPROMbySlot(7, 9, offset, length, &buffer[0], &count)
                              : lib.ReadEEPROM(3, offset, length, &buffer[0], &count);
    return std::to_string(status) + " " + std::to_string(count) + " " +
           Hex(buffer.data(), buffer.size());
}

TEST_F(Remote, BoardOperationsAnswerAsLocally) {
    std::vector<Step> steps;
    for (bool bySlot : {false, true}) {
        for (auto [offset, length] :
             {std::pair<unsigned, unsigned>{0, 100}, {20, 84}, {0, 19}, {21, 19}}) {
            steps.push_back([=](cPelkLib& lib) { return ReadEeprom(lib, bySlot, offset, length); });
        }
    }
    steps.push_back([](cPelkLib& lib) {
        unsigned int first = 9, second = 9;
        const int status = lib.GetDriverVersion(&first, &second);
        return std::to_string(status) + " " + std::to_string(first) + "." + std::to_string(second);
    });
    for (unsigned int size : {24u, 4u}) {
        steps.push_back([size](cPelkLib& lib) {
            PK_BOARD_MAPPING mapping;
            std::memset(&mapping, 0xFF, sizeof mapping);
            return std::to_string(lib.GetBoardMapping(0, size, &mapping)) +
                   Hex(&mapping, sizeof mapping);
        });
    }
    // Board data: none yet, stored, read in parts, refused beyond the segment.
    for (auto [set, length, size] : {std::tuple<bool, unsigned, unsigned>{false, 0, 64},
                                     {true, 10, 0},
                                     {false, 0, 4},
                                     {false, 0, 64},
                                     {true, 11, 0},
                                     {true, 3, 0},
                                     {false, 0, 64}}) {
        steps.push_back([=](cPelkLib& lib) {
            char data[64] = "0123456789A";
            unsigned int count = 77;
            const int status = set ? lib.SetBoardData(1, length, data, &count)
                                   : lib.GetBoardData(5, size, data, &count);
            return std::to_string(status) + " " + std::to_string(count) + " " +
                   std::string(data, 12);
        });
    }
    steps.push_back([](cPelkLib& lib) {
        unsigned int first[4] = {5, 5, 5, 5}, second[4] = {6, 6, 6, 6}, count = 9;
        const int status = lib.DetectBoards(4, first, second, &count);
        return std::to_string(status) + " " + std::to_string(count) + Hex(first, 16) +
               Hex(second, 16);
    });
    steps.push_back([](cPelkLib& lib) {
        PK_GET_DRVR_STATS stats;
        std::memset(&stats, 0xEE, sizeof stats);
        unsigned int count = 9;
        const int status = lib.GetDriverStats(1, 2, sizeof stats, &stats, &count);
        return std::to_string(status) + " " + std::to_string(count) + Hex(&stats, 16);
    });
    steps.push_back([](cPelkLib& lib) {
        std::ostringstream statuses;
        statuses << lib.AssertBoardReset(1) << lib.LiftBoardReset(1, 0xFFFFFFFF)
                 << lib.SetBoardNumber(1, 2, 3) << lib.ZeroDriverStats(1, 2)
                 << lib.RegisterForStateNotification() << lib.IncrementBoardUseCount(1)
                 << lib.DecrementBoardUseCount(1) << lib.StartCore(1);
        return statuses.str();
    });
    steps.push_back([](cPelkLib& lib) {
        std::string texts;
        for (int code : {-2, -12, -13, 5}) {
            char text[64] = "untouched";
            errno = 2;
            lib.GetErrorText(code, text, sizeof text);
            texts += std::string(text) + "|";
        }
        return texts;
    });
    Compare(steps);
}

int SendBytes(cPelkLib& lib, const std::string& header, const std::vector<std::string>& buffers,
              unsigned int tag) {
    const PK_SEND_INFO info = {7, 0, 0, 11, 12, tag};
    void* areas[5];
    unsigned int lengths[5];
    for (size_t i = 0; i < buffers.size(); ++i) {
        areas[i] = const_cast<char*>(buffers[i].data());
        lengths[i] = static_cast<unsigned int>(buffers[i].size());
    }
    return lib.SendMessage(&info, header.data(), static_cast<unsigned int>(header.size()),
                           static_cast<unsigned int>(buffers.size()), areas, lengths);
}

// The next message's header (into capacity bytes) and record, and its data
// buffers taken with the lengths given (none when empty).
std::string Receive(cPelkLib& lib, unsigned int capacity, std::vector<unsigned int> take,
                    unsigned int timeoutMs = 5000) {
    PK_REC_INFO info;
    std::memset(&info, 0xCC, sizeof info);
    char header[64];
    std::memset(header, 0xBB, sizeof header);
    unsigned int length = 99;
    std::ostringstream record;
    const int status = lib.ReceiveMessage(&info, timeoutMs, capacity, header, &length);
    record << status << " " << length << " " << Hex(header, sizeof header) << " "
           << Hex(&info, sizeof info);
    if (!take.empty()) {
        std::vector<std::string> data;
        void* areas[4];
        for (size_t i = 0; i < 4; ++i) data.emplace_back(i < take.size() ? take[i] : 0, '\xDD');
        for (size_t i = 0; i < 4; ++i) areas[i] = &data[i][0];
        take.resize(4, 0);
        record << " buffers " << lib.ReceiveBuffers(take.data(), areas);
        for (const std::string& buffer : data) record << " " << Hex(buffer.data(), buffer.size());
    }
    return record.str();
}

TEST_F(Remote, MessagesOfEveryShapeAnswerAsLocally) {
    const std::string big(70000, 'x'), mebibyte(1 << 20, 'm');
    Compare({
        [](cPelkLib& lib) {
            _PELKOR_MSG_HEADER header = {1, 2, {3, 4, 5, 6, 7, 8, 9, 10}, 11, 2, {12, 13}};
            char data[1024];
            std::memset(data, 'd', sizeof data);
            void* areas[1] = {data};
            unsigned int lengths[1] = {sizeof data};
            const int sent = lib.SendPelkorMessage(&header, 1, 2, 3, 1, areas, lengths);
            PK_REC_INFO info;
            _PELKOR_MSG_HEADER back;
            const int received = lib.ReceivePelkorMessage(&info, 5000, &back);
            char got[1024] = {};
            void* into[1] = {got};
            const int buffers = lib.ReceiveBuffers(info.bufLen, into);
            return std::to_string(sent) + " " + std::to_string(received) + " " +
                   std::to_string(buffers) + Hex(&back, sizeof back) + Hex(&info, sizeof info) +
                   std::to_string(std::memcmp(got, data, 1024));
        },
        // A header cut to the capacity, buffers taken shorter than sent.
        [&](cPelkLib& lib) {
            const int sent = SendBytes(lib, std::string(20, 'h'), {"ab", "abcde", big, "z"}, 5);
            return std::to_string(sent) + Receive(lib, 8, {3, 2, 10, 1});
        },
        // A message left unfetched, then the next; buffers when none wait.
        [](cPelkLib& lib) {
            std::string record = std::to_string(SendBytes(lib, "one", {"first"}, 1));
            record += std::to_string(SendBytes(lib, "two", {"second"}, 2));
            record += Receive(lib, 56, {});
            record += Receive(lib, 56, {6});
            record += Receive(lib, 0, {}, 20).substr(0, 3);
            return record + std::to_string(lib.FlushMessageBuffers());
        },
        [](cPelkLib& lib) {
            unsigned int none[4] = {};
            return std::to_string(lib.ReceiveBuffers(none, nullptr));
        },
        // Refused before anything is sent.
        [](cPelkLib& lib) {
            const PK_SEND_INFO info = {1, 0, 0, 1, 2, 3};
            unsigned int lengths[5] = {};
            void* areas[5] = {};
            char header[57] = {};
            std::ostringstream statuses;
            for (int status : {lib.SendMessage(&info, header, 4, 5, areas, lengths),
                               lib.SendMessage(&info, nullptr, 4, 0, areas, lengths),
                               lib.SendMessage(&info, header, 57, 0, areas, lengths),
                               lib.SendPelkorMessage(nullptr, 1, 2, 3, 0, areas, lengths)}) {
                statuses << status << " ";
            }
            return statuses.str();
        },
        [&](cPelkLib& lib) {
            const int sent = SendBytes(lib, "big", {mebibyte, "", mebibyte}, 9);
            return std::to_string(sent) + Receive(lib, 56, {1 << 20, 0, 1 << 20}).substr(0, 400);
        },
    });
}

TEST_F(Remote, TimeOutsHoldAndTheWaitHandleTellsWhenAMessageWaits) {
    Lib lib = Make(true);
    PK_REC_INFO info;
    char header[56];
    unsigned int length;
    EXPECT_EQ(lib->GetWaitHandle(), -1);
    EXPECT_EQ(lib->ReceiveMessage(&info, 10, sizeof header, header, &length), PKERR_NOT_OPEN);
    int handle = -2;
    ASSERT_EQ(lib->Open(56, &handle), 0);
    EXPECT_GE(handle, 3);
    EXPECT_EQ(handle, lib->GetWaitHandle());
    EXPECT_EQ(fcntl(handle, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    struct pollfd ready = {handle, POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, 50), 0);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lib->ReceiveMessage(&info, 300, sizeof header, header, &length), PKERR_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::milliseconds(1300));

    ASSERT_EQ(SendBytes(*lib, "ping", {}, 1), 0);
    ASSERT_EQ(SendBytes(*lib, "pong", {}, 2), 0);
    ASSERT_EQ(poll(&ready, 1, 5000), 1);
    EXPECT_EQ(lib->ReceiveMessage(&info, 0, sizeof header, header, &length), 0);
    EXPECT_EQ(poll(&ready, 1, 5000), 1);  // the second
    EXPECT_EQ(lib->ReceiveMessage(&info, 0, sizeof header, header, &length), 0);
    EXPECT_EQ(std::string(header, length), "pong");
    EXPECT_EQ(poll(&ready, 1, 0), 0);
}

long ResidentKiB() {
    const ProgramResult status =
        RunProgram("grep VmRSS /proc/" + std::to_string(getpid()) + "/status");
    return std::atol(status.output.c_str() + status.output.find_first_of("0123456789"));
}

// pelkd pushes no more than the client has granted: a caller that does not
// receive holds at most the credit window and one message, the rest stays
// in the board's own queue, and nothing is lost.
TEST_F(Remote, ACallerThatDoesNotReceiveHoldsOnlyTheCredit) {
    Lib lib = Make(true);
    ASSERT_EQ(lib->Open(56, nullptr), 0);
    const std::string mebibyte(1 << 20, 'c');
    ASSERT_EQ(SendBytes(*lib, "warm", {mebibyte}, 0), 0);
    ASSERT_EQ(Receive(*lib, 56, {1 << 20}).substr(0, 2), "0 ");
    [[maybe_unused]] const long before = ResidentKiB();
    for (unsigned int i = 1; i <= 28; ++i) ASSERT_EQ(SendBytes(*lib, "held", {mebibyte}, i), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
#if !defined(__SANITIZE_ADDRESS__)  // its allocator keeps what is freed
    EXPECT_LT(ResidentKiB() - before, 18 * 1024);
#endif
    for (unsigned int i = 1; i <= 28; ++i) {
        PK_REC_INFO info;
        char header[56];
        unsigned int length;
        ASSERT_EQ(lib->ReceiveMessage(&info, 5000, sizeof header, header, &length), 0);
        EXPECT_EQ(info.tag, i);
    }
}

TEST_F(Remote, TableAndResolutionReadAsLocally) {
    ASSERT_EQ(RunProgram(std::string(OAMTAB_PATH) + " load --force " + DOCS_EXAMPLES "/boards.txt")
                  .exitCode,
              0);
    OAMSHADOW_BOARD local[8], remote[8];
    std::memset(local, 0, sizeof local);
    std::memset(remote, 0, sizeof remote);
    int localCount = 0, remoteCount = 0;
    bool localQm = true, remoteQm = false;
    ASSERT_EQ(oamShadowInit(), 0);
    ASSERT_EQ(oamShadowCopyTable(0, local, 8, &localCount, &localQm), 0);
    oamShadowExit();
    const char* target = m_pelkd->Target().c_str();
    ASSERT_EQ(PelklibRemoteCopyTable(target, remote, 8, &remoteCount, &remoteQm), 0);
    EXPECT_EQ(remoteCount, localCount);
    EXPECT_EQ(remoteQm, localQm);
    EXPECT_EQ(std::memcmp(local, remote, sizeof local), 0);
    EXPECT_EQ(PelklibRemoteCopyTable(target, remote, 2, &remoteCount, nullptr),
              OAMSHADOW_ERR_UNAVAILABLE);
    EXPECT_EQ(remoteCount, localCount);

    PelklibAttachOAM();
    for (unsigned int board = 0; board <= 6; ++board) {
        PELKLIB_DRIVER_TYPE types[2] = {PELKLIB_DRIVER_QM, PELKLIB_DRIVER_QM};
        unsigned int ids[2] = {99, 99};
        EXPECT_EQ(PelklibRemoteGetBoardDriver(target, board, &types[1], &ids[1]),
                  PelklibGetBoardDriver(board, &types[0], &ids[0]))
            << board;
        EXPECT_EQ(types[1], types[0]);
        EXPECT_EQ(ids[1], ids[0]);
    }
    PelklibDetachOAM();
    // By number: board 2 is zbhost board 1; 4 is qm, 5 has no decimal ID.
    Lib byNumber(NewPelkLibRemoteByBoardNumber(target, 2), deletePelkLib);
    ASSERT_NE(byNumber, nullptr);
    EXPECT_EQ(byNumber->Open(56, nullptr), 0);
    EXPECT_EQ(NewPelkLibRemoteByBoardNumber(target, 4), nullptr);
    EXPECT_EQ(NewPelkLibRemoteByBoardNumber(target, 5), nullptr);
    // zb5t's board 3: pelkd's host has no /dev/zb5t, as locally.
    Lib trunk(NewPelkLibRemoteByBoardNumber(target, 3), deletePelkLib);
    ASSERT_NE(trunk, nullptr);
    EXPECT_EQ(trunk->Open(56, nullptr), ENOENT);

    // Without a table (its segment removed), as locally.
    ASSERT_EQ(RunProgram("rm /dev/shm/OAM_BoardIDsShadow").exitCode, 0);
    PELKLIB_DRIVER_TYPE type;
    PelklibAttachOAM();
    const int withoutTable = PelklibGetBoardDriver(1, &type, nullptr);
    PelklibDetachOAM();
    EXPECT_EQ(PelklibRemoteGetBoardDriver(target, 1, &type, nullptr), withoutTable);
    ASSERT_EQ(RunProgram("rm /dev/shm/OAM_BoardIDsShadow").exitCode, 0);
    localCount = remoteCount = -1;
    const int copied =
        oamShadowInit() == 0 ? oamShadowCopyTable(0, local, 8, &localCount, nullptr) : -1;
    oamShadowExit();
    ASSERT_EQ(RunProgram("rm /dev/shm/OAM_BoardIDsShadow").exitCode, 0);
    EXPECT_EQ(PelklibRemoteCopyTable(target, remote, 8, &remoteCount, nullptr), copied);
    EXPECT_EQ(remoteCount, localCount);
}

// pelk --remote: every command on pelkd's host answers as pelk does there.
TEST_F(Remote, PelkWithRemoteAnswersAsPelkThere) {
    ASSERT_EQ(
        RunProgram(std::string(OAMTAB_PATH) + " load --force " + DOCS_EXAMPLES "/boards.txt 2>&1")
            .exitCode,
        0);
    const std::string pelk = PELK_PATH, remote = " --remote " + m_pelkd->Target();
    const struct {
        std::string command;
        int exitCode;
    } commands[] = {{"-j boards", 0},        {"-j resolve 2", 0},      {"-j resolve 5", 1},
                    {"-j resolve 9", 1},     {"info -j --board 3", 1}, {"stats -j", 1},
                    {"data -j set hello", 0}};
    for (const auto& command : commands) {
        const ProgramResult local = RunProgram(pelk + " " + command.command + " 2>/dev/null");
        const ProgramResult there =
            RunProgram(pelk + remote + " " + command.command + " 2>/dev/null");
        EXPECT_EQ(local.exitCode, command.exitCode) << command.command;
        EXPECT_EQ(there.exitCode, command.exitCode) << command.command;
        // The same answers, but for where they come from.
        const auto answers = [this](std::string json) {
            const std::string target = m_pelkd->Target();
            for (const std::string& where :
                 {",\"remote\":\"" + target + "\"", " on the host of pelkd at " + target}) {
                for (size_t at = json.find(where); at != std::string::npos; at = json.find(where)) {
                    json.erase(at, where.size());
                }
            }
            return json;
        };
        EXPECT_EQ(answers(there.output), answers(local.output)) << command.command;
    }
    const ProgramResult after = RunProgram(pelk + " ping --board 1 --count 20" + remote + " 2>&1");
    EXPECT_EQ(after.exitCode, 0);
    EXPECT_TRUE(after.Says("through pelkd at " + m_pelkd->Target())) << after.output;
    EXPECT_TRUE(after.Says("20 round trips")) << after.output;
    const ProgramResult nowhere =
        RunProgram(pelk + " --remote unix:" + m_dir + "/none.sock boards 2>&1");
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_TRUE(nowhere.Says("cannot be reached")) << nowhere.output;
    EXPECT_TRUE(nowhere.Says("no board-identity table from pelkd at unix:")) << nowhere.output;
    const ProgramResult unresolved =
        RunProgram(pelk + " --remote unix:" + m_dir + "/none.sock ping --board 1 2>&1");
    EXPECT_EQ(unresolved.exitCode, 1);
    EXPECT_TRUE(unresolved.Says("board 1: ")) << unresolved.output;
    EXPECT_TRUE(unresolved.Says("its host has none, or pelkd cannot be reached"))
        << unresolved.output;
}

TEST_F(Remote, PelkRemoteMakesTheFactoriesRemote) {
    setenv("PELK_REMOTE", m_pelkd->Target().c_str(), 1);
    Lib byType(NewPelkLibByType(PELKLIB_DRIVER_ZBHOST), deletePelkLib);
    Lib qm(NewPelkLibByType(PELKLIB_DRIVER_QM), deletePelkLib);
    unsetenv("PELK_REMOTE");
    EXPECT_EQ(qm, nullptr);
    ASSERT_NE(byType, nullptr);
    int handle = -1;
    ASSERT_EQ(byType->Open(56, &handle), 0);
    char link[64], target[64] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", handle);
    ASSERT_GT(readlink(link, target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "anon_inode:[eventfd]");
}

}  // namespace

// The pelk tool as its users run it: exit codes and --json output on
// success and failure, against zbhost and a table written by oamtab.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/run_program.h"

namespace {

// stdout only.
struct Result : ProgramResult {
    // --json prints exactly one object on one line.
    bool OneJsonObject() const {
        return output.size() > 2 && output.front() == '{' &&
               output.compare(output.size() - 2, 2, "}\n") == 0 &&
               output.find('\n') == output.size() - 1;
    }
};

Result Run(const std::string& command) {
    return Result{RunProgram(command + " 2>/dev/null")};
}

Result Pelk(const std::string& args) {
    return Run(std::string(PELK_PATH) + " " + args);
}

// The demo's table: two emulated boards, a zb5t board, a qm board and one
// whose driver board ID is no number, plus a name that needs escaping.
void LoadTable() {
    const char* path = "/dev/shm/pelk_tool_boards.txt";
    std::ofstream(path) << "emu-a 1 zbhost 0\nemu-b 2 zbhost 1\ntrunk-1 3 zb5t 0 alaw\n"
                           "voice-1 4 qm 0\nbroken 5 zb5t 7x\nq\"uote 6 zbhost 2\n";
    ASSERT_EQ(Run(std::string(OAMTAB_PATH) + " load " + path).exitCode, 0);
}

class Zbhost {
public:
    Zbhost() {
        m_pid = StartChild([] {
            execl(ZBHOST_PATH, ZBHOST_PATH, static_cast<char*>(nullptr));
            return 127;
        });
        for (int i = 0; i < 500 && access("/dev/ZBHostManagerOut", F_OK) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Zbhost() { Stop(); }
    void Stop() {
        if (m_pid > 0) kill(m_pid, SIGTERM), WaitChild(m_pid);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

TEST(PelkTool, ListsAndResolvesTheBoardTable) {
    Result empty = Pelk("boards --json");
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_TRUE(empty.Says("\"boards\":[]")) << empty.output;
    Result unresolved = Pelk("resolve 1 --json");
    EXPECT_EQ(unresolved.exitCode, 1);
    EXPECT_TRUE(unresolved.Says("\"code\":-16,\"name\":\"PKSTATUS_NO_SUCH_BOARD\""));

    LoadTable();
    Result boards = Pelk("boards --json");
    EXPECT_EQ(boards.exitCode, 0);
    EXPECT_TRUE(boards.OneJsonObject()) << boards.output;
    EXPECT_TRUE(boards.Says("{\"name\":\"trunk-1\",\"number\":3,\"driverName\":\"zb5t\","
                            "\"driverBoardID\":\"0\",\"aLaw\":true,\"resolution\":{\"status\":"
                            "{\"code\":0,\"name\":\"OK\",\"meaning\":\"success\"},\"driverType\":2"))
        << boards.output;
    EXPECT_TRUE(boards.Says("\"name\":\"q\\\"uote\",\"number\":6")) << boards.output;

    const std::pair<int, std::string> resolutions[] = {
        {1, "\"driverType\":3,\"driver\":\"zbhost\",\"id\":0"},
        {2, "\"driverType\":3,\"driver\":\"zbhost\",\"id\":1"},
        {3, "\"driverType\":2,\"driver\":\"zb5t\",\"id\":0"},
        {4, "\"driverType\":1,\"driver\":\"qm\",\"id\":0"},
        {5, "\"code\":-16"},
        {9, "\"code\":-16"}};
    for (const auto& expected : resolutions) {
        Result result = Pelk("resolve " + std::to_string(expected.first) + " --json");
        EXPECT_EQ(result.exitCode, expected.first <= 4 ? 0 : 1) << result.output;
        EXPECT_TRUE(result.OneJsonObject() && result.Says(expected.second)) << result.output;
    }
    Result text = Pelk("resolve 5");
    EXPECT_EQ(text.output, "board 5: -16 PKSTATUS_NO_SUCH_BOARD: no such board, or its driver "
                        "board ID is not a decimal number\n");
}

TEST(PelkTool, TalksToBoardsByLogicalNumber) {
    LoadTable();
    Zbhost zbhost;
    Result info = Pelk("info --board 1 --json");
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_TRUE(info.Says("\"eeprom\":{\"offset\":0,\"length\":20,\"hex\":\"006000000000ff06"))
        << info.output;
    Result ping = Pelk("ping --board 2 --count 50 --size 3000 --json");
    EXPECT_EQ(ping.exitCode, 0);
    EXPECT_TRUE(ping.OneJsonObject() && ping.Says("\"count\":50,\"size\":3000,\"latencyMicros\""))
        << ping.output;
    double latency[4] = {-1, -1, -1, -1};
    ASSERT_EQ(std::sscanf(ping.output.c_str() + ping.output.find("\"latencyMicros\""),
                          "\"latencyMicros\":{\"min\":%lf,\"median\":%lf,\"p99\":%lf,"
                          "\"max\":%lf}",
                          &latency[0], &latency[1], &latency[2], &latency[3]),
              4);
    EXPECT_TRUE(0 < latency[0] && latency[0] <= latency[1] && latency[1] <= latency[2] &&
                latency[2] <= latency[3]);
    Result data = Pelk("data set 'say \"hi\"\n\x01' --board 1 --json");
    EXPECT_EQ(data.exitCode, 0);
    EXPECT_TRUE(data.Says("\"data\":\"say \\\"hi\\\"\\n\\u0001\"")) << data.output;

    const std::pair<std::string, std::string> failures[] = {
        {"stats --board 1", "\"code\":-17,\"name\":\"PKSTATUS_NOT_PROVIDED\""},
        {"info --board 3", "\"open\":{\"code\":2,\"name\":\"ENOENT\""},
        {"info --board 4", "\"error\":\"board 4 is served by driver qm"},
        {"ping --board 5", "\"resolution\":{\"code\":-16"},
        {"release --board 1 --timeout 1", "\"code\":-1,\"name\":\"PKERR_UNKNOWN\""}};
    for (const auto& failure : failures) {
        Result result = Pelk(failure.first + " --json");
        EXPECT_EQ(result.exitCode, 1) << failure.first;
        EXPECT_TRUE(result.OneJsonObject() && result.Says("\"ok\":false") &&
                    result.Says(failure.second))
            << result.output;
    }
    zbhost.Stop();
    Result gone = Pelk("ping --board 1 --json");
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_TRUE(gone.Says("\"code\":-12,\"name\":\"PKERR_NOT_OPEN\"")) << gone.output;
}

TEST(PelkTool, ExplainsStatusesAndRefusesWrongCommandLines) {
    const std::pair<std::string, std::string> codes[] = {
        {"-2", "\"code\":-2,\"name\":\"PKERR_TIMEOUT\""},
        {"-18", "\"name\":\"PKSTATUS_INVALID_HANDLE\""},
        {"0x40000003", "\"code\":1073741827,\"name\":\"OAMSHADOW_ERR_UNAVAILABLE\""},
        {"0xfffffff4", "\"code\":-12,\"name\":\"PKERR_NOT_OPEN\""},
        {"010", "\"code\":10,"},
        {"2", "\"name\":\"ENOENT\",\"meaning\":\"No such file or directory\""}};
    for (const auto& code : codes) {
        Result result = Pelk("errtext " + code.first + " --json");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(result.Says(code.second)) << result.output;
    }
    for (std::string command : {"boards", "resolve", "info", "ping", "data", "reset", "release",
                                "stats", "errtext"}) {
        Result help = Pelk(command + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.output.rfind("usage: pelk " + command, 0), 0u) << help.output;
    }
    for (std::string wrong : std::vector<std::string>{"frobnicate", "errtext 12x --json", "resolve --json",
                              "ping --count 0 --json", "ping --bogus --json",
                              "info --board 1 --driver zbhost --json", "data put x --json",
                              "ping --count 4000000000 --json", "release --timeout 2147483648 --json",
                              "data set " + std::string(4097, 'x') + " --json", "errtext 0x-1 --json"}) {
        Result result = Pelk(wrong);
        EXPECT_EQ(result.exitCode, 2) << wrong;
        EXPECT_TRUE(wrong == "frobnicate" || (result.OneJsonObject() && result.Says("\"error\":")))
            << result.output;
    }
}

}  // namespace

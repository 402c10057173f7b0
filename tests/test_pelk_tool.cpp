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

const char kJsonLines[] = "/dev/shm/pelk_tool_json_lines";

// stdout only.
struct Result : ProgramResult {
    // --json prints exactly one object on one line (kept for the parser).
    bool OneJsonObject() const {
        std::ofstream(kJsonLines, std::ios::app) << output;
        return output.size() > 2 && output.front() == '{' &&
               output.compare(output.size() - 2, 2, "}\n") == 0 &&
               output.find('\n') == output.size() - 1;
    }
};

// A JSON parser reads every object checked so far (one run: it starts slowly).
void ExpectEveryObjectParses() {
    EXPECT_EQ(RunProgram(std::string("python3 -c 'import json, sys\nfor line in open(sys.argv[1], "
                                     "encoding=\"utf-8\"): json.loads(line)' ") +
                         kJsonLines)
                  .exitCode,
              0);
}

Result Shell(const std::string& command) {
    return Result{RunProgram(command + " 2>/dev/null")};
}

Result Pelk(const std::string& args) {
    return Shell(std::string(PELK_PATH) + " " + args);
}

// The demo's table: two emulated boards, a zb5t board, a qm board and one
// whose driver board ID is no number, plus names that need escaping, one in
// UTF-8 and one with a byte that is not UTF-8.
void LoadTable() {
    const char* path = "/dev/shm/pelk_tool_boards.txt";
    std::ofstream(path) << "emu-a 1 zbhost 0\nemu-b 2 zbhost 1\ntrunk-1 3 zb5t 0 alaw\n"
                           "voice-1 4 qm 0\nbroken 5 zb5t 7x\nq\"uote 6 zbhost 2\n"
                           "brd-\xc3\xbc 7 zbhost 3\nraw\xff 8 zbhost 4\n";
    ASSERT_EQ(Shell(std::string(OAMTAB_PATH) + " load " + path).exitCode, 0);
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
    Result empty = Pelk("--json boards");
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_TRUE(empty.Says("\"boards\":[]")) << empty.output;
    EXPECT_TRUE(Pelk("boards").Says("holds no boards"));
    Result unresolved = Pelk("resolve 1 --json");
    EXPECT_EQ(unresolved.exitCode, 1);
    EXPECT_TRUE(unresolved.Says("\"code\":-16,\"name\":\"PKSTATUS_NO_SUCH_BOARD\""));

    LoadTable();
    Result boards = Pelk("boards --json");
    EXPECT_EQ(boards.exitCode, 0);
    EXPECT_TRUE(boards.OneJsonObject()) << boards.output;
    EXPECT_TRUE(boards.Says("{\"name\":\"trunk-1\",\"number\":3,\"driverName\":\"zb5t\","
                            "\"driverBoardID\":\"0\",\"aLaw\":true,\"resolution\":{\"board\":3,\"status\":"
                            "{\"code\":0,\"name\":\"OK\",\"meaning\":\"success\"},\"driverType\":2"))
        << boards.output;
    EXPECT_TRUE(boards.Says("\"name\":\"q\\\"uote\",\"number\":6")) << boards.output;
    EXPECT_TRUE(boards.Says("\"name\":\"brd-\xc3\xbc\",") && boards.Says("\"raw\\u00ff\""))
        << boards.output;

    const std::pair<int, std::string> resolutions[] = {
        {1, "\"driverType\":3,\"driver\":\"zbhost\",\"id\":0"},
        {2, "\"driverType\":3,\"driver\":\"zbhost\",\"id\":1"},
        {3, "\"driverType\":2,\"driver\":\"zb5t\",\"id\":0"},
        {4, "\"driverType\":1,\"driver\":\"qm\",\"id\":0"},
        {5, "\"cause\":\"board broken has driver board ID \\\"7x\\\", which is not a decimal"},
        {9, "\"cause\":\"no board has number 9 in the table\""}};
    for (const auto& expected : resolutions) {
        Result result = Pelk("resolve " + std::to_string(expected.first) + " --json");
        EXPECT_EQ(result.exitCode, expected.first <= 4 ? 0 : 1) << result.output;
        EXPECT_EQ(result.Says("\"error\":{\"status\":-16,"), expected.first > 4);
        EXPECT_TRUE(result.OneJsonObject() && result.Says(expected.second)) << result.output;
    }
    Result text = Pelk("resolve 5");
    EXPECT_EQ(text.output, "board 5: -16 PKSTATUS_NO_SUCH_BOARD: board broken has driver board "
                           "ID \"7x\", which is not a decimal number\n");
    ExpectEveryObjectParses();
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
        {"info --board 4", "\"text\":\"board 4 is served by driver qm"},
        {"ping --board 5", "\"resolution\":{\"board\":5,\"status\":{\"code\":-16"},
        {"release --board 1 --timeout 1",
         "\"error\":{\"status\":-1,\"name\":\"PKERR_UNKNOWN\",\"text\":\"the board emulator "
         "does not emulate release from reset"}};
    for (const auto& failure : failures) {
        Result result = Pelk(failure.first + " --json");
        EXPECT_EQ(result.exitCode, 1) << failure.first;
        EXPECT_TRUE(result.OneJsonObject() && result.Says("\"ok\":false,\"error\":{\"status\":") &&
                    result.Says(failure.second))
            << result.output;
    }
    // Ctrl-C ends the round trips with a summary of those done.
    Result interrupted = Shell("sh -c '" + std::string(PELK_PATH) +
                             " ping --board 1 --count 10000000 --json & sleep 0.5; kill -INT $!; "
                             "wait $!'");
    EXPECT_EQ(interrupted.exitCode, 130);
    EXPECT_TRUE(interrupted.OneJsonObject() && interrupted.Says("\"interrupted\":true") &&
                interrupted.Says("\"latencyMicros\":{\"min\":"))
        << interrupted.output;
    zbhost.Stop();
    // The library's texts about the failed handshake stay off stdout.
    std::ofstream("/dev/ZBHostManagerOut");
    Result gone = Pelk("ping --board 1 --json");
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_TRUE(gone.OneJsonObject() && gone.Says("\"code\":-12,\"name\":\"PKERR_NOT_OPEN\""))
        << gone.output;
    ExpectEveryObjectParses();
}

TEST(PelkTool, ExplainsStatusesAndRefusesWrongCommandLines) {
    const std::pair<std::string, std::string> codes[] = {
        {"-2", "\"code\":-2,\"name\":\"PKERR_TIMEOUT\""},
        {"-18", "\"name\":\"PKSTATUS_INVALID_HANDLE\""},
        {"0x40000003", "\"code\":1073741827,\"name\":\"OAMSHADOW_ERR_UNAVAILABLE\""},
        {"0xfffffff4", "\"code\":-12,\"name\":\"PKERR_NOT_OPEN\""},
        {"010", "\"code\":10,"},
        {"2", "\"name\":\"ENOENT\",\"meaning\":\"No such file or directory\""},
        {"PKSTATUS_NOT_PROVIDED", "\"code\":-17,"},
        {"EAGAIN", "\"code\":11,"}};
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
    Result version = Pelk("--version");
    EXPECT_EQ(version.output, "pelk 1.0.0\nlibpelk 1.0.0\n");
    EXPECT_EQ(Pelk("").exitCode, 2);
    EXPECT_EQ(Pelk("").output, "");  // usage goes to stderr
    // Each wrong command line names the one wrong word, with the range it takes.
    const std::pair<std::string, std::string> wrongs[] = {
        {"errtext 12x --json", "not \\\"12x\\\""},
        {"resolve --json", "wrong number of arguments"},
        {"ping --count 0 --json", "--count takes 1 to 10000000, not \\\"0\\\""},
        {"ping --size=16777217 --json", "--size takes 0 to 16777216 bytes, not"},
        {"ping --bogus=1 --json", "unknown option --bogus"},
        {"ping --help=1 --json", "--help takes no value"},
        {"info --board 1 --driver zbhost --json", "--board cannot be combined"},
        {"--json info --id=-1", "--id takes 0 to 4294967295, not \\\"-1\\\""},
        {"data put x --json", "expected data set"},
        {"ping --count 4000000000 --json", "--count takes 1 to 10000000"},
        {"release --timeout 2147483648 --json", "--timeout takes 0 to 2147483647 milliseconds"},
        {"data set " + std::string(4097, 'x') + " --json", "TEXT takes 0 to 4096 bytes"},
        {"errtext 0x-1 --json", "or a status name"},
        {"--json frobnicate", "unknown command frobnicate"},
        {"--json", "no command given"}};
    for (const auto& wrong : wrongs) {
        Result result = Pelk(wrong.first);
        EXPECT_EQ(result.exitCode, 2) << wrong.first;
        EXPECT_TRUE(result.OneJsonObject() &&
                    result.Says("\"error\":{\"status\":null,\"name\":\"usage\"") &&
                    result.Says(wrong.second))
            << result.output;
    }
    EXPECT_EQ(Pelk("frobnicate").exitCode, 2);
    ExpectEveryObjectParses();
}

}  // namespace

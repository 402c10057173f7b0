// The pelk tool as its users run it: exit codes and --json output on
// success and failure, against zbhost and a table written by oamtab.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_program.h"
#include "support/zbhost_process.h"

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

Result Shell(const std::string& cmd) {
    return Result{RunProgram(cmd + " 2>/dev/null")};
}
Result Pelk(const std::string& args) {
    return Shell(std::string(PELK_PATH) + " " + args);
}

// The demo's table: two emulated boards, a zb5t board, a qm board and one
// whose driver board ID is no number, plus names that need escaping, one in
// UTF-8 and one with bytes that are not (an overlong form).
void LoadTable() {
    const char* path = "/dev/shm/pelk_tool_boards.txt";
    std::ofstream(path) << "emu-a 1 zbhost 0\nemu-b 2 zbhost 1\ntrunk-1 3 zb5t 0 alaw\n"
                           "voice-1 4 qm 0\nbroken 5 zb5t 7x\nq\"uote 6 zbhost 2\n"
                           "brd-\xc3\xbc 7 zbhost 3\nraw\xc1\xbf 8 zbhost 4\n";
    ASSERT_EQ(Shell(std::string(OAMTAB_PATH) + " load " + path).exitCode, 0);
}

TEST(PelkTool, ListsResolvesTalksToBoardsAndExplainsUsage) {
    Result empty = Pelk("--json boards");
    EXPECT_TRUE(empty.exitCode == 0 && empty.Says("\"boards\":[]")) << empty.output;
    EXPECT_TRUE(Pelk("boards").Says("holds no boards"));
    Result unresolved = Pelk("resolve 1 --json");
    EXPECT_TRUE(unresolved.exitCode == 1 &&
                unresolved.Says("\"code\":-16,\"name\":\"PKSTATUS_NO_SUCH_BOARD\""));
    LoadTable();
    Result boards = Pelk("boards --json");
    EXPECT_EQ(boards.exitCode, 0);
    EXPECT_TRUE(boards.OneJsonObject()) << boards.output;
    EXPECT_TRUE(
        boards.Says("{\"name\":\"trunk-1\",\"number\":3,\"driverName\":\"zb5t\","
                    "\"driverBoardID\":\"0\",\"aLaw\":true,\"resolution\":{\"board\":3,\"status\":"
                    "{\"code\":0,\"name\":\"OK\",\"meaning\":\"success\"},\"driverType\":2"))
        << boards.output;
    EXPECT_TRUE(boards.Says("\"name\":\"q\\\"uote\",\"number\":6") &&
                boards.Says("\"name\":\"brd-\xc3\xbc\",") && boards.Says("\"raw\\u00c1\\u00bf\""))
        << boards.output;
    EXPECT_EQ(Pelk("resolve 5").output, "board 5: -16 PKSTATUS_NO_SUCH_BOARD: board broken has "
                                        "driver board ID \"7x\", which is not a decimal number\n");
    Zbhost zbhost;
    ASSERT_TRUE(zbhost.WaitReady());

    // Exit 1 adds "ok":false with an error object; exit 2 a usage error, whose
    // text names the one wrong word with the range it takes.
    const struct {
        std::string args;
        int exitCode;
        std::vector<std::string> says;
    } runs[] = {
        {"resolve 1 --json", 0, {"\"driverType\":3,\"driver\":\"zbhost\",\"id\":0"}},
        {"resolve 2 --json", 0, {"\"driverType\":3,\"driver\":\"zbhost\",\"id\":1"}},
        {"resolve 3 --json", 0, {"\"driverType\":2,\"driver\":\"zb5t\",\"id\":0"}},
        {"resolve 4 --json", 0, {"\"driverType\":1,\"driver\":\"qm\",\"id\":0"}},
        {"resolve 5 --json",
         1,
         {"\"error\":{\"status\":-16,", "\"cause\":\"board broken has "
                                        "driver board ID \\\"7x\\\", which is not a decimal"}},
        {"resolve 9 --json",
         1,
         {"\"error\":{\"status\":-16,", "\"cause\":\"no board has number 9 in the table\""}},
        {"info --board 1 --json",
         0,
         {"\"eeprom\":{\"offset\":0,\"length\":20,\"hex\":\"006000000000ff06"}},
        {"data set 'say \"hi\\\"\n\x1f' --board 1 --json",
         0,
         {"\"data\":\"say \\\"hi\\\\\\\"\\n\\u001f\""}},
        {"stats --board 1 --json", 1, {"\"code\":-17,\"name\":\"PKSTATUS_NOT_PROVIDED\""}},
        {"info --board 3 --json", 1, {"\"open\":{\"code\":2,\"name\":\"ENOENT\""}},
        {"info --board 4 --json", 1, {"\"text\":\"board 4 is served by driver qm"}},
        {"ping --board 5 --json", 1, {"\"resolution\":{\"board\":5,\"status\":{\"code\":-16"}},
        {"release --board 1 --timeout 1 --json",
         1,
         {"\"error\":{\"status\":-1,\"name\":\"PKERR_UNKNOWN\",\"text\":\"the board emulator "
          "does not emulate release from reset"}},
        {"errtext -2 --json", 0, {"\"code\":-2,\"name\":\"PKERR_TIMEOUT\""}},
        {"errtext -18 --json", 0, {"\"name\":\"PKSTATUS_INVALID_HANDLE\""}},
        {"errtext 0x40000003 --json",
         0,
         {"\"code\":1073741827,\"name\":\"OAMSHADOW_ERR_UNAVAILABLE\""}},
        {"errtext 0xfffffff4 --json", 0, {"\"code\":-12,\"name\":\"PKERR_NOT_OPEN\""}},
        {"errtext 010 --json", 0, {"\"code\":10,"}},
        {"errtext 2 --json", 0, {"\"name\":\"ENOENT\",\"meaning\":\"No such file or directory\""}},
        {"errtext PKSTATUS_NOT_PROVIDED --json", 0, {"\"code\":-17,"}},
        {"errtext EAGAIN --json", 0, {"\"code\":11,"}},
        {"errtext 12x --json", 2, {"not \\\"12x\\\""}},
        {"resolve --json", 2, {"wrong number of arguments"}},
        {"ping --count 0 --json", 2, {"--count takes 1 to 10000000, not \\\"0\\\""}},
        {"ping --size=16777217 --json", 2, {"--size takes 0 to 16777216 bytes, not"}},
        {"ping --bogus=1 --json", 2, {"unknown option --bogus"}},
        {"ping --json --count", 2, {"--count needs a value"}},
        {"ping --help=1 --json", 2, {"--help takes no value"}},
        {"info --board 1 --driver zbhost --json", 2, {"--board cannot be combined"}},
        {"--json info --id=-1", 2, {"--id takes 0 to 4294967295, not \\\"-1\\\""}},
        {"data put x --json", 2, {"expected data set"}},
        {"ping --count 4000000000 --json", 2, {"--count takes 1 to 10000000"}},
        {"release --timeout 2147483648 --json",
         2,
         {"--timeout takes 0 to 2147483647 milliseconds"}},
        {"data set " + std::string(4097, 'x') + " --json", 2, {"TEXT takes 0 to 4096 bytes"}},
        {"errtext 0x-1 --json", 2, {"or a status name"}},
        {"--json frobnicate", 2, {"unknown command frobnicate"}},
        {"--json", 2, {"no command given"}},
        // Short forms, "--", and words that look like negative numbers.
        {"ping -j -c 0", 2, {"--count takes 1 to 10000000, not \\\"0\\\" (see pelk ping --help)"}},
        {"-j ping -t -1", 2, {"--timeout takes 0 to 2147483647 milliseconds, not \\\"-1\\\""}},
        {"ping -j -c", 2, {"-c needs a value N"}},
        {"-j ping -q", 2, {"unknown option -q (see pelk ping --help)"}},
        {"-j --bogus errtext 2", 2, {"unknown option --bogus (see pelk --help)"}},
        {"errtext -16 -j", 0, {"\"code\":-16,"}},
        {"errtext -j -- -x", 2, {"not \\\"-x\\\""}},
        {"data set -j -b 2 -- --x", 0, {"\"data\":\"--x\""}},
        {"help frobnicate -j", 2, {"unknown command frobnicate (see pelk --help)"}}};
    for (const auto& run : runs) {
        Result result = Pelk(run.args);
        EXPECT_EQ(result.exitCode, run.exitCode) << run.args;
        EXPECT_TRUE(result.OneJsonObject()) << result.output;
        if (run.exitCode != 0) {
            EXPECT_TRUE(result.Says(run.exitCode == 1
                                        ? "\"ok\":false,\"error\":{\"status\":"
                                        : "\"error\":{\"status\":null,\"name\":\"usage\""))
                << result.output;
        }
        if (run.exitCode == 2) {
            EXPECT_TRUE(result.Says(" --help)\",\"during\":")) << result.output;
        }
        for (const std::string& text : run.says) EXPECT_TRUE(result.Says(text)) << result.output;
    }

    Result ping = Pelk("ping --board 2 --count 50 --size 3000 --json");
    EXPECT_EQ(ping.exitCode, 0);
    EXPECT_TRUE(ping.OneJsonObject() && ping.Says("\"count\":50,\"size\":3000,\"latencyMicros\""))
        << ping.output;
    double latency[4] = {-1, -1, -1, -1};
    ASSERT_EQ(std::sscanf(ping.output.c_str() + ping.output.find("\"latencyMicros\""),
                          "\"latencyMicros\":{\"min\":%lf,\"median\":%lf,\"p99\":%lf,\"max\":%lf}",
                          &latency[0], &latency[1], &latency[2], &latency[3]),
              4);
    EXPECT_TRUE(0 < latency[0] && latency[0] <= latency[1] && latency[1] <= latency[2] &&
                latency[2] <= latency[3]);
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
    // A JSON parser reads every object checked above.
    EXPECT_EQ(RunProgram(std::string("python3 -c 'import json, sys\nfor line in open(sys.argv[1], "
                                     "encoding=\"utf-8\"): json.loads(line)' ") +
                         kJsonLines)
                  .exitCode,
              0);
    EXPECT_EQ(Pelk("--version").output, "pelk 1.0.0\nlibpelk 1.0.0\n");
    EXPECT_EQ(Pelk("-V").output, "pelk 1.0.0\nlibpelk 1.0.0\n");
    Result none = Pelk("");
    EXPECT_TRUE(none.exitCode == 2 && none.output.empty());  // usage goes to stderr
    ProgramResult text = RunProgram(std::string(PELK_PATH) + " ping --count 2>&1");
    EXPECT_EQ(text.exitCode, 2);
    EXPECT_EQ(text.output, "pelk: --count needs a value N (see pelk ping --help)\n");
}

// The options a help text lists: {"-c", "--count", "N"}.
std::vector<std::vector<std::string>> ListedOptions(const std::string& help) {
    std::vector<std::vector<std::string>> listed;
    std::istringstream lines(help.substr(help.find("\nOptions:\n") + 10));
    for (std::string line; std::getline(lines, line) && !line.empty();) {
        if (line.compare(0, 3, "  -") != 0 && line.compare(0, 8, "      --") != 0) continue;
        std::istringstream call(line.substr(0, line.find("  ", line.find('-'))));
        std::vector<std::string> option(3);
        call >> option[1];
        if (option[1].back() == ',') {
            option[0] = option[1].substr(0, 2);
            call >> option[1];
        }
        call >> option[2];
        listed.push_back(option);
    }
    return listed;
}

// Every help comes from the table the parser reads: all it lists is
// accepted, short and long, and nothing the parser takes is left out.
TEST(PelkTool, HelpListsEveryOptionTheParserTakes) {
    Result tool = Pelk("--help");
    EXPECT_EQ(tool.exitCode, 0);
    EXPECT_EQ(Pelk("-h").output, tool.output);
    EXPECT_EQ(Pelk("help").output, tool.output);
    EXPECT_EQ(tool.output.rfind("Usage: pelk ", 0), 0u);
    EXPECT_TRUE(tool.Says("\nExamples:\n  pelk ")) << tool.output;
    for (std::string command : {"boards", "resolve", "info", "ping", "data", "reset", "release",
                                "stats", "errtext", "trace"}) {
        EXPECT_TRUE(tool.Says("\n  " + command + " ")) << command;
        Result help = Pelk(command + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.output.rfind("Usage: pelk " + command, 0), 0u) << help.output;
        EXPECT_TRUE(help.Says("\nExamples:\n  pelk " + command)) << help.output;
        EXPECT_EQ(Pelk("help " + command).output, help.output);
        std::string words;
        for (const auto& option : ListedOptions(help.output)) {
            const std::string value = option[2].empty() ? "" : "1";
            if (!option[0].empty()) words += " " + option[0] + (value.empty() ? "" : " 1");
            words += " " + option[1] + (value.empty() ? "" : "=1");
        }
        EXPECT_TRUE(words.find(" -j --json -h --help") != std::string::npos) << words;
        EXPECT_EQ(Pelk(command + words).exitCode, 0) << words;
        std::istringstream lines(help.output);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
    }
    std::string ping;
    for (const auto& option : ListedOptions(Pelk("ping --help").output)) {
        ping += option[0] + " " + option[1] + " " + option[2] + ";";
    }
    EXPECT_EQ(ping, "-c --count N;-s --size BYTES;-t --timeout MS;-b --board N;"
                    "-d --driver zb5t|zbhost;-i --id ID; --capture FILE;-j --json ;-h --help ;");
}

}  // namespace

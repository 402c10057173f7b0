// The pelk tool as its users run it: exit codes and --json output on
// success and failure, against zbhost and a table written by oamtab.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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
    ASSERT_EQ(Shell(std::string(OAMTAB_PATH) + " load --force " + path).exitCode, 0);
}

// Standard output and standard error apart.
struct Streams {
    int exitCode;
    std::string out, err;
};
Streams PelkStreams(const std::string& args, const std::string& environment = "") {
    const char* err = "/dev/shm/pelk_tool_stderr";
    Streams streams;
    ProgramResult result = RunProgram(environment + " " + PELK_PATH + " " + args + " 2>" + err);
    streams.exitCode = result.exitCode;
    streams.out = result.output;
    streams.err = RunProgram(std::string("cat ") + err).output;
    return streams;
}

// The segments of the board-identity table now in /dev/shm.
std::string TableSegments() {
    return RunProgram("ls /dev/shm | grep OAM_ || true").output;
}

// Looking at a table that is not there says so, with the fix, and makes
// nothing; every failure is said once, with the library's text that
// explains it as its cause.
TEST(PelkTool, FailuresNameTheirCauseOnceAndLookingMakesNothing) {
    for (std::string args : {"boards", "resolve 1", "info --board 1", "ping -b 1 -c 1"}) {
        Streams text = PelkStreams(args);
        EXPECT_EQ(text.exitCode, 1) << args;
        EXPECT_EQ(text.out, "") << args;
        EXPECT_TRUE(text.err.find("there is no board-identity table on this host") !=
                        std::string::npos &&
                    text.err.find("oamtab load FILE") != std::string::npos &&
                    text.err.find('\n') == text.err.size() - 1)
            << text.err;
        Result json = Pelk(args + " --json");
        EXPECT_TRUE(json.exitCode == 1 && json.OneJsonObject() &&
                    json.Says("\"error\":{\"status\":1073741827,\"name\":"
                              "\"OAMSHADOW_ERR_UNAVAILABLE\",\"text\":") &&
                    json.Says("does not exist"))
            << json.output;
    }
    EXPECT_EQ(TableSegments(), "");
    // A link in the table's place is not followed.
    ASSERT_EQ(symlink("/dev/shm/elsewhere", "/dev/shm/OAM_BoardIDsShadow"), 0);
    EXPECT_TRUE(PelkStreams("boards").err.find("is a symbolic link") != std::string::npos);
    EXPECT_NE(access("/dev/shm/elsewhere", F_OK), 0);
    unlink("/dev/shm/OAM_BoardIDsShadow");
    ASSERT_EQ(mkdir("/dev/shm/OAM_BoardIDsShadow", 0700), 0);
    EXPECT_TRUE(PelkStreams("resolve 1").err.find("is not a shared-memory segment") !=
                std::string::npos);
    rmdir("/dev/shm/OAM_BoardIDsShadow");

    // An empty table is a table.
    ASSERT_EQ(Shell(std::string(OAMTAB_PATH) + " clear").exitCode, 0);
    Result empty = Pelk("--json boards");
    EXPECT_TRUE(empty.exitCode == 0 && empty.Says("\"boards\":[]")) << empty.output;
    EXPECT_TRUE(Pelk("boards").Says("holds no boards"));
    Streams unresolved = PelkStreams("resolve 9");
    EXPECT_EQ(unresolved.exitCode, 1);
    EXPECT_EQ(unresolved.out, "");
    EXPECT_EQ(unresolved.err, "pelk resolve: board 9: -16 PKSTATUS_NO_SUCH_BOARD: no board has "
                              "number 9 in the table\n");

    // The emulator's open names what the library found, not a guess.
    const std::string nowhere = "PELK_EMULATOR_DIR=/nonexistent";
    Streams open = PelkStreams("ping -c 1", nowhere);
    EXPECT_EQ(open.exitCode, 1);
    ASSERT_EQ(open.err.rfind("pelk ping: ", 0), 0u) << open.err;
    EXPECT_EQ(open.err.find('\n'), open.err.size() - 1) << open.err;
    const std::string cause = open.err.substr(11, open.err.size() - 12);
    Result openJson = Shell(nowhere + " " + PELK_PATH + " ping -c 1 --json");
    EXPECT_TRUE(openJson.exitCode == 1 && openJson.Says("\"cause\":\"" + cause + "\"") &&
                !openJson.Says("is zbhost running"))
        << openJson.output;
}

TEST(PelkTool, ListsResolvesTalksToBoardsAndExplainsUsage) {
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
    EXPECT_EQ(PelkStreams("resolve 5").err,
              "pelk resolve: board 5: -16 PKSTATUS_NO_SUCH_BOARD: board broken has driver board ID "
              "\"7x\", which is not a decimal number\n");
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

    // Codes without a name in the library get no "PKERR_unknown" beside their name.
    EXPECT_TRUE(Pelk("stats --board 1")
                    .Says("status: -17 PKSTATUS_NOT_PROVIDED: the emulator "
                          "backend does not provide this operation\n"));
    Result ping = Pelk("ping --board 2 --count 50 --size 3000 --json --histogram");
    EXPECT_EQ(ping.exitCode, 0);
    EXPECT_TRUE(ping.OneJsonObject() && ping.Says("\"count\":50,\"size\":3000,\"latencyMicros\""))
        << ping.output;
    double min = -1, mean = -1, median = -1, p90 = -1, p99 = -1, p999 = -1, max = -1;
    ASSERT_EQ(std::sscanf(ping.output.c_str() + ping.output.find("\"latencyMicros\""),
                          "\"latencyMicros\":{\"min\":%lf,\"mean\":%lf,\"median\":%lf,\"p90\":%lf,"
                          "\"p99\":%lf,\"p999\":%lf,\"max\":%lf}",
                          &min, &mean, &median, &p90, &p99, &p999, &max),
              7);
    EXPECT_TRUE(0 < min && min <= median && median <= p90 && p90 <= p99 && p99 <= p999 &&
                p999 <= max && min <= mean && mean <= max);
    // The histogram's buckets follow one another and hold every round trip.
    size_t at = ping.output.find("\"histogram\":[");
    ASSERT_NE(at, std::string::npos) << ping.output;
    double from = 0, to = 0, last = -1;
    long long count = 0, counted = 0;
    while (std::sscanf(ping.output.c_str() + at + 1,
                       "%*[^{]{\"fromMicros\":%lf,\"toMicros\":%lf,"
                       "\"count\":%lld}",
                       &from, &to, &count) == 3) {
        EXPECT_TRUE(last < 0 ? from <= min : from == last) << from;
        EXPECT_LT(from, to);
        last = to;
        counted += count;
        at = ping.output.find('}', at + 1);
    }
    EXPECT_EQ(counted, 50);
    EXPECT_GT(last, max);
    Result drawn = Pelk("ping --board 2 --count 20 -H");
    std::istringstream lines(drawn.output.substr(drawn.output.find("latency histogram")));
    counted = 0;
    for (std::string line; std::getline(lines, line);) {
        counted += line.find("| ") != std::string::npos
                       ? std::stoll(line.substr(line.rfind("| ") + 2))
                       : 0;
    }
    EXPECT_EQ(counted, 20) << drawn.output;
    // Ctrl-C ends the round trips with a summary of those done. The signal
    // comes once round trips are recorded: a background job starts with
    // SIGINT ignored until ping takes it, however slowly it starts.
    Result interrupted = Shell(
        "sh -c '" + std::string(PELK_PATH) +
        " ping --board 1 --count 10000000 --json --capture /dev/shm/interrupted.pcapng & "
        "until [ \"$(stat -c %s /dev/shm/interrupted.pcapng 2>/dev/null || echo 0)\" -gt 4096 ]; "
        "do sleep 0.05; done; kill -INT $!; wait $!'");
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

// A table that exists but that this user may not open is said as such,
// with its owner, group and mode and what to do.
TEST(PelkTool, ATableThisUserMayNotOpenIsSaidAsSuch) {
    const std::string other = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    if (RunProgram(other + " true 2>/dev/null").exitCode != 0) {
        GTEST_SKIP() << "this process cannot run a program as another user";
    }
    ASSERT_EQ(Shell(std::string(OAMTAB_PATH) + " clear").exitCode, 0);
    const char* table = "/dev/shm/OAM_BoardIDsShadow";
    ASSERT_EQ(chmod(table, 0600), 0);
    const std::string owner = "the board-identity table /dev/shm/OAM_BoardIDsShadow (owner root, "
                              "group root, mode 06";
    Streams boards = PelkStreams("boards", other);
    EXPECT_EQ(boards.exitCode, 1);
    EXPECT_EQ(boards.err, "pelk boards: " + owner +
                              "00) cannot be opened: this user may not read and write it, nor may "
                              "its group; have the OAM supervisor share it with the group that "
                              "shares boards (PELK_GROUP)\n");
    ASSERT_EQ(chmod(table, 0660), 0);
    Streams resolve = PelkStreams("resolve 1", other);
    EXPECT_EQ(resolve.exitCode, 1);
    EXPECT_EQ(resolve.err, "pelk resolve: board 1: -14 PKSTATUS_OAM_NOT_ATTACHED: " + owner +
                               "60) cannot be opened: this user may not read and write it; join "
                               "group root, which may\n");
    EXPECT_EQ(chmod(table, 0666), 0);
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
    EXPECT_EQ(ping,
              "-c --count N;-s --size BYTES;-t --timeout MS;-H --histogram ;-b --board N;"
              "-d --driver zb5t|zbhost;-i --id ID; --capture FILE;-r --remote TARGET;-j --json ;"
              "-h --help ;");
}

}  // namespace

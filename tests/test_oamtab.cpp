#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/run_program.h"

namespace {

using Result = ProgramResult;

Result Oamtab(const std::string& args) {
    return RunProgram(std::string(OAMTAB_PATH) + " " + args + " 2>&1");
}

// Written to the sandbox's private /dev/shm, which vanishes with the test.
std::string File(const std::string& content) {
    static int files = 0;
    std::string path = "/dev/shm/oamtab_boards_" + std::to_string(++files) + ".txt";
    std::ofstream(path) << content;
    return path;
}

std::string Boards(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "b" + std::to_string(100 + i) + " " + std::to_string(i) + " zb5t 1\n";
    return lines;
}

// The program's first test: no table exists yet.
TEST(Oamtab, ListingNoTableMakesNoneAndEveryCommandAnswersInJson) {
    Result none = Oamtab("list");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.Says("oamtab list: there is no board-identity table on this host"))
        << none.output;
    Result noneJson = Oamtab("list --json");
    EXPECT_EQ(noneJson.output.rfind("{\"command\":\"list\",\"ok\":false,\"error\":{\"status\":"
                                    "1073741827,\"name\":\"OAMSHADOW_ERR_UNAVAILABLE\"",
                                    0),
              0u)
        << noneJson.output;
    EXPECT_EQ(RunProgram("ls /dev/shm | grep OAM_ || true").output, "");

    // One object a command, in pelk's schema: "command", "ok", the facts,
    // "warnings", and for a failure "error".
    const struct {
        std::string args;
        int exitCode;
        std::string json;
    } runs[] = {
        {"clear", 0, "{\"command\":\"clear\",\"ok\":true}"},
        {"add a 1 zb5t 0 --alaw", 0,
         "{\"command\":\"add\",\"ok\":true,\"board\":{\"name\":\"a\",\"number\":1,"
         "\"driverName\":\"zb5t\",\"driverBoardID\":\"0\",\"aLaw\":true}}"},
        {"add A 2 zb5t 0", 1,
         "{\"command\":\"add\",\"ok\":false,\"error\":{\"status\":17,\"name\":\"EEXIST\","
         "\"text\":\"a board named \\\"A\\\" is already in the table\",\"during\":\"add\"},"
         "\"board\":{\"name\":\"A\",\"number\":2,\"driverName\":\"zb5t\",\"driverBoardID\":"
         "\"0\",\"aLaw\":false}}"},
        {"add b 2 zbhos 0", 1, "which the library does not know (zb5t, zbhost, or qm"},
        {"add b 2 zbhos 0 --force", 0,
         "\"ok\":true,\"warnings\":[\"board \\\"b\\\" names driver \\\"zbhos\\\", which the "
         "library does not know"},
        {"add c three zb5t 0", 2,
         "{\"command\":\"add\",\"ok\":false,\"error\":{\"status\":null,\"name\":\"usage\","
         "\"text\":\"board number \\\"three\\\" is not a decimal number from 0 to 4294967295 "
         "(see oamtab add --help)\",\"during\":\"reading the command line\"}}"},
        {"remove b", 0, "{\"command\":\"remove\",\"ok\":true,\"name\":\"b\"}"},
        {"remove b", 1, "\"name\":\"ENOENT\",\"text\":\"no board named \\\"b\\\" in the table\""},
        {"qm on", 0, "{\"command\":\"qm\",\"ok\":true,\"qmPlugin\":true}"},
        {"load - < " + File("x 5 zbhost 0\ny 6 zb5t 1\n"), 0,
         "{\"command\":\"load\",\"ok\":true,\"source\":\"-\",\"count\":2}"},
        {"list", 0,
         "{\"command\":\"list\",\"ok\":true,\"qmPlugin\":true,\"boards\":[{\"name\":\"x\","},
        {"frobnicate", 2, "unknown command \\\"frobnicate\\\" (see oamtab --help)"},
        {"help frobnicate", 2, "\"name\":\"usage\""},
    };
    std::string lines;
    for (const auto& run : runs) {
        Result json = RunProgram(std::string(OAMTAB_PATH) + " -j " + run.args + " 2>/dev/null");
        EXPECT_EQ(json.exitCode, run.exitCode) << run.args;
        EXPECT_TRUE(json.Says(run.json)) << json.output;
        EXPECT_EQ(json.output.find('\n'), json.output.size() - 1) << json.output;
        lines += json.output;
    }
    // A JSON parser reads every one of them.
    EXPECT_EQ(RunProgram("python3 -c 'import json, sys\nfor line in open(sys.argv[1]): "
                         "json.loads(line)' " +
                         File(lines))
                  .exitCode,
              0);
}

TEST(Oamtab, KeepsBoardsInNameOrderAndRefusesConflicts) {
    ASSERT_EQ(Oamtab("clear").exitCode, 0);
    EXPECT_EQ(Oamtab("add Zulu 3 zb5t 7").exitCode, 0);
    EXPECT_EQ(Oamtab("add alpha 1 qm 0 --alaw").exitCode, 0);
    EXPECT_EQ(Oamtab("qm on").exitCode, 0);
    const std::string table = "qm plug-in: on\n"
                              "position\tname\tnumber\tdriver\tdriver board ID\tA-law\n"
                              "0\talpha\t1\tqm\t0\tyes\n"
                              "1\tZulu\t3\tzb5t\t7\tno\n";
    EXPECT_EQ(Oamtab("list").output, table);
    Result json = Oamtab("--json list | python3 -m json.tool --compact");
    EXPECT_EQ(json.output, "{\"command\":\"list\",\"ok\":true,\"qmPlugin\":true,\"boards\":[{"
                           "\"name\":\"alpha\",\"number\":1,"
                           "\"driverName\":\"qm\",\"driverBoardID\":\"0\",\"aLaw\":true},{\"name\":"
                           "\"Zulu\",\"number\":3,\"driverName\":\"zb5t\",\"driverBoardID\":\"7\","
                           "\"aLaw\":false}]}\n");

    // Refused changes exit 1, wrong command lines 2; neither writes.
    const struct {
        std::string args;
        int exitCode;
        std::string says;
    } refusals[] = {
        {"add ALPHA 9 zb5t 1", 1, "oamtab add: a board named \"ALPHA\" is already in the table\n"},
        {"add beta 3 zb5t 1", 1, "board \"Zulu\" already has number 3"},
        {"add " + std::string(129, 'n') + " 1 zb5t 1", 2, "longer than 128"},
        {"add x 1 zb5t " + std::string(65, '1'), 2, "longer than 64"},
        {"add x 4294967296 zb5t 1", 2, "0 to 4294967295 (see oamtab add --help)"},
        {"add '' 1 zb5t 1", 2, "must be one word"},
        {"add 'a b' 1 zb5t 1", 2, "must be one word"},
        {"add c 3 zbhos 0", 1,
         "oamtab add: board \"c\" names driver \"zbhos\", which the library does not know (zb5t, "
         "zbhost, or qm for the qm plug-in), so resolving its number would fail; nothing was "
         "written (--force stores it anyway)\n"},
        {"add c 3 zb5t 0x1", 1, "driver board ID \"0x1\", which is not a decimal number"},
        {"load " + File("c 3 zbhost 0\nd 4 zb5 0\n"), 1, ".txt:2: board \"d\" names driver"},
        {"add x 1 zb5t 1 --ulaw", 2, "oamtab: unknown option --ulaw (see oamtab add --help)\n"},
        {"add --alaw=yes x 1 zb5t 1", 2, "--alaw takes no value (see oamtab add --help)"},
        {"add x -1 zb5t 1", 2, "board number \"-1\" is not a decimal number"},
        {"add x 1 zb5t", 2, "oamtab: expected NAME NUMBER DRIVER ID (see oamtab add --help)\n"},
        {"remove -- -x", 1, "no board named \"-x\""},
        {"remove -x", 2, "unknown option -x (see oamtab remove --help)"},
        {"-q list", 2, "oamtab: unknown option -q (see oamtab --help)\n"},
        {"help list add", 2, "help takes one COMMAND"},
        {"frobnicate", 2, "oamtab: unknown command \"frobnicate\" (see oamtab --help)\n"},
        {"remove nobody", 1, "no board named"},
        {"remove", 2, "expected NAME"},
        {"qm maybe", 2, "expected on or off"},
        {"list junk", 2, "no arguments"},
        {"load " + File("a 1 zb5t 0\n\nb two zb5t 0\n"), 1, ".txt:3: board number"},
        {"load " + File("a 1 zb5t 0 # A 2 zb5t 1\nA 2 zb5t 1\n"), 1,
         ".txt:2: board \"A\" is already named on line 1"},
        {"load - < " + File("a 1 zb5t 0\nb 1 zb5t 1\n"), 1,
         "standard input:2: number 1 is already board \"a\" on line 1"},
        {"load " + File(Boards(32)), 1, "at most 31 boards"},
        // A control byte would cut a field short where the table stores it.
        {"load " + File(std::string("x 7 zbhost 9\0"
                                    "1\n",
                                    15)),
         2, ".txt:1: driver board ID \"9\\x001\" holds the control byte 0x00 at position 2"},
        {"load " + File(std::string("a 1 zb5t 0\nab\0cd 8 zbhost 1\n", 27)), 2,
         ".txt:2: name \"ab\\x00cd\" holds the control byte 0x00"},
        {"add \"$(printf 'a\\033b')\" 3 zbhost 1", 2, "name \"a\\x1Bb\" holds the control byte"},
        {"load /nonexistent", 1, "cannot read"},
        {"load /dev/shm", 1, "is not a file"}};
    for (const auto& refusal : refusals) {
        Result result = Oamtab(refusal.args);
        EXPECT_EQ(result.exitCode, refusal.exitCode) << refusal.args;
        EXPECT_TRUE(result.Says(refusal.says)) << result.output;
    }
    EXPECT_EQ(Oamtab("list").output, table);
    // Options stand anywhere after the command, -j for --json.
    EXPECT_EQ(Oamtab("-j list").output, Oamtab("list -j").output);
    ASSERT_EQ(Oamtab("add --alaw beta 2 zb5t 1").exitCode, 0);
    EXPECT_TRUE(Oamtab("list").Says("1\tbeta\t2\tzb5t\t1\tyes\n"));
    ASSERT_EQ(Oamtab("load " + File("# rack 1\n" + Boards(31))).exitCode, 0);
    EXPECT_TRUE(Oamtab("list").Says("30\tb130\t"));
    // With --force, boards that resolution cannot reach are kept, with a
    // warning each.
    Result warned = Oamtab("load --force - < " + File("x 1 zbhost 0\ny 2 pq 0\nz 3 zb5t 7x\n"));
    EXPECT_EQ(warned.exitCode, 0);
    EXPECT_TRUE(warned.Says("oamtab load: warning: standard input:2: board \"y\" names driver "
                            "\"pq\"") &&
                warned.Says("standard input:3: board \"z\" has driver board ID \"7x\"") &&
                !warned.Says(":1:"))
        << warned.output;
    EXPECT_TRUE(Oamtab("list").Says("2\tz\t3\tzb5t\t7x\tno\n"));
}

TEST(Oamtab, EveryCommandExplainsItself) {
    Result tool = Oamtab("--help");
    EXPECT_EQ(tool.exitCode, 0);
    EXPECT_EQ(Oamtab("-h").output, tool.output);
    EXPECT_EQ(Oamtab("help").output, tool.output);
    EXPECT_TRUE(tool.Says("\n  -j, --json ") && tool.Says("\n  -V, --version ") &&
                tool.Says("\nExamples:\n  oamtab "))
        << tool.output;
    for (std::string command : {"list", "add", "remove", "load", "clear", "qm"}) {
        Result help = Oamtab(command + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.output.rfind("Usage: oamtab " + command, 0), 0u) << help.output;
        EXPECT_TRUE(help.Says("\n  -h, --help ") && help.Says("\nExamples:\n  oamtab " + command))
            << help.output;
        EXPECT_EQ(Oamtab("help " + command).output, help.output);
        EXPECT_TRUE(tool.Says("\n  " + command + " ")) << command;
    }
    EXPECT_TRUE(Oamtab("add --help").Says("\n      --alaw "));
    EXPECT_TRUE(Oamtab("list -h").Says("\n  -j, --json "));
    Result none = Oamtab("");
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(none.output, tool.output);
    EXPECT_EQ(RunProgram(std::string(OAMTAB_PATH) + " 2>/dev/null").output, "");  // on stderr
    EXPECT_EQ(Oamtab("--version").output, "oamtab 1.0.0\nlibpelk 1.0.0\n");
    EXPECT_EQ(Oamtab("-V").output, "oamtab 1.0.0\nlibpelk 1.0.0\n");
}

}  // namespace

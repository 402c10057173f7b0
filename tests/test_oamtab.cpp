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
    EXPECT_EQ(json.output, "{\"qmPlugin\":true,\"boards\":[{\"name\":\"alpha\",\"number\":1,"
                           "\"driverName\":\"qm\",\"driverBoardID\":\"0\",\"aLaw\":true},{\"name\":"
                           "\"Zulu\",\"number\":3,\"driverName\":\"zb5t\",\"driverBoardID\":\"7\","
                           "\"aLaw\":false}]}\n");

    // Refused changes exit 1, wrong command lines 2; neither writes.
    const struct {
        std::string args;
        int exitCode;
        std::string says;
    } refusals[] = {
        {"add ALPHA 9 zb5t 1", 1, "already in the table"},
        {"add beta 3 zb5t 1", 1, "board \"Zulu\" already has number 3"},
        {"--json add beta 2 zb5t 1", 2, "--json applies to list only"},
        {"add " + std::string(129, 'n') + " 1 zb5t 1", 1, "longer than 128"},
        {"add x 1 zb5t " + std::string(65, '1'), 1, "longer than 64"},
        {"add x 4294967296 zb5t 1", 1, "not a decimal number"},
        {"add '' 1 zb5t 1", 1, "must be one word"},
        {"add 'a b' 1 zb5t 1", 1, "must be one word"},
        {"add x 1 zb5t 1 --ulaw", 2, "oamtab: unknown option --ulaw (see oamtab add --help)\n"},
        {"add --alaw=yes x 1 zb5t 1", 2, "--alaw takes no value (see oamtab add --help)"},
        {"add x -1 zb5t 1", 1, "board number \"-1\" is not a decimal number"},
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
    // Boards that resolution cannot reach are kept, with a warning each.
    Result warned = Oamtab("load - < " + File("x 1 zbhost 0\ny 2 pq 0\nz 3 zb5t 7x\n"));
    EXPECT_EQ(warned.exitCode, 0);
    EXPECT_TRUE(warned.Says("standard input:2: warning: board \"y\" names driver \"pq\"") &&
                warned.Says("standard input:3: warning: board \"z\" has driver board ID \"7x\"") &&
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

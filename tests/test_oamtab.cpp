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
    for (int i = 0; i < count; ++i) lines += "b" + std::to_string(100 + i) + " 1 zb5t 1\n";
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

    // Refused changes exit 1, wrong command lines 2; neither writes.
    const struct {
        std::string args;
        int exitCode;
        std::string says;
    } refusals[] = {
        {"add ALPHA 9 zb5t 1", 1, "already in the table"},
        {"add " + std::string(129, 'n') + " 1 zb5t 1", 1, "longer than 128"},
        {"add x 1 zb5t " + std::string(65, '1'), 1, "longer than 64"},
        {"add x 4294967296 zb5t 1", 1, "not a decimal number"},
        {"add '' 1 zb5t 1", 1, "must be one word"},
        {"add 'a b' 1 zb5t 1", 1, "must be one word"},
        {"add x 1 zb5t 1 --ulaw", 2, "expected NAME"},
        {"remove nobody", 1, "no board named"},
        {"remove", 2, "expected NAME"},
        {"qm maybe", 2, "expected on or off"},
        {"list junk", 2, "no arguments"},
        {"load " + File("a 1 zb5t 0\n\nb two zb5t 0\n"), 1, ".txt:3: board number"},
        {"load " + File("a 1 zb5t 0 # A 2 zb5t 1\nA 2 zb5t 1\n"), 1,
         ".txt:2: board \"A\" is already named on line 1"},
        {"load " + File(Boards(32)), 1, "at most 31 boards"},
        {"load /nonexistent", 1, "cannot read"},
        {"load /dev/shm", 1, "is not a file"}};
    for (const auto& refusal : refusals) {
        Result result = Oamtab(refusal.args);
        EXPECT_EQ(result.exitCode, refusal.exitCode) << refusal.args;
        EXPECT_TRUE(result.Says(refusal.says)) << result.output;
    }
    EXPECT_EQ(Oamtab("list").output, table);
    ASSERT_EQ(Oamtab("load " + File("# rack 1\n" + Boards(31))).exitCode, 0);
    EXPECT_TRUE(Oamtab("list").Says("30\tb130\t"));
}

TEST(Oamtab, EveryCommandExplainsItself) {
    for (std::string command : {"list", "add", "remove", "load", "clear", "qm"}) {
        Result help = Oamtab(command + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.output.rfind("usage: oamtab " + command, 0), 0u) << help.output;
    }
    EXPECT_EQ(Oamtab("--help").exitCode, 0);
    EXPECT_EQ(Oamtab("frobnicate").exitCode, 2);
}

}  // namespace

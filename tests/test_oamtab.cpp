#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Result {
    int exitCode;
    std::string output;
};

Result Oamtab(const std::string& args) {
    std::string command = std::string(OAMTAB_PATH) + " " + args + " 2>&1";
    Result result{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string WriteFile(const std::string& content) {
    std::string path = testing::TempDir() + "oamtab_boards_" + std::to_string(getpid()) + ".txt";
    std::ofstream(path) << content;
    return path;
}

std::string Boards(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += "board" + std::to_string(100 + i) + " " + std::to_string(i) + " zb5t " +
                 std::to_string(i) + "\n";
    }
    return lines;
}

TEST(Oamtab, KeepsBoardsInNameOrderAndRefusesConflicts) {
    ASSERT_EQ(Oamtab("clear").exitCode, 0);
    EXPECT_EQ(Oamtab("add Zulu 3 zb5t 7").exitCode, 0);
    EXPECT_EQ(Oamtab("add alpha 1 qm 0 --alaw").exitCode, 0);
    EXPECT_EQ(Oamtab("add mike 2 zbhost 12").exitCode, 0);
    EXPECT_EQ(Oamtab("qm on").exitCode, 0);
    Result list = Oamtab("list");
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.output,
              "qm plug-in: on\n"
              "position\tname\tnumber\tdriver\tdriver board ID\tA-law\n"
              "0\talpha\t1\tqm\t0\tyes\n"
              "1\tmike\t2\tzbhost\t12\tno\n"
              "2\tZulu\t3\tzb5t\t7\tno\n");

    Result duplicate = Oamtab("add ALPHA 9 zb5t 1");
    EXPECT_EQ(duplicate.exitCode, 1);
    EXPECT_NE(duplicate.output.find("already in the table"), std::string::npos);
    EXPECT_EQ(Oamtab("add " + std::string(129, 'n') + " 1 zb5t 1").exitCode, 1);
    EXPECT_EQ(Oamtab("add x 1 " + std::string(129, 'd') + " 1").exitCode, 1);
    Result longID = Oamtab("add x 1 zb5t " + std::string(65, '1'));
    EXPECT_EQ(longID.exitCode, 1);
    EXPECT_NE(longID.output.find("longer than 64"), std::string::npos);
    EXPECT_EQ(Oamtab("add x 4294967296 zb5t 1").exitCode, 1);
    EXPECT_EQ(Oamtab("add x 1 zb5t 1 --ulaw").exitCode, 1);
    EXPECT_EQ(Oamtab("remove nobody").exitCode, 1);
    EXPECT_EQ(Oamtab("qm maybe").exitCode, 1);
    EXPECT_EQ(Oamtab("remove MIKE").exitCode, 0);
    EXPECT_NE(Oamtab("list").output.find("0\talpha\t1\tqm\t0\tyes\n1\tZulu\t"),
              std::string::npos);
}

TEST(Oamtab, LoadReplacesTheTableOrRefusesTheWholeFile) {
    std::string good = WriteFile("# boards of rack 1\n\nbeta 2 zb5t 1 alaw  # trunk\nAlpha 1 zb5t 0\n");
    ASSERT_EQ(Oamtab("load " + good).exitCode, 0);
    const std::string loaded = Oamtab("list").output;
    EXPECT_NE(loaded.find("0\tAlpha\t1\tzb5t\t0\tno\n1\tbeta\t2\tzb5t\t1\tyes\n"), std::string::npos);

    Result malformed = Oamtab("load " + WriteFile("a 1 zb5t 0\n\nb two zb5t 0\n"));
    EXPECT_EQ(malformed.exitCode, 1);
    EXPECT_NE(malformed.output.find(":3:"), std::string::npos) << malformed.output;
    Result duplicate = Oamtab("load " + WriteFile("a 1 zb5t 0\nA 2 zb5t 1\n"));
    EXPECT_EQ(duplicate.exitCode, 1);
    EXPECT_NE(duplicate.output.find(":2:"), std::string::npos) << duplicate.output;
    Result tooMany = Oamtab("load " + WriteFile(Boards(32)));
    EXPECT_EQ(tooMany.exitCode, 1);
    EXPECT_NE(tooMany.output.find("at most 31"), std::string::npos) << tooMany.output;
    EXPECT_EQ(Oamtab("list").output, loaded);

    ASSERT_EQ(Oamtab("load " + WriteFile(Boards(31))).exitCode, 0);
    EXPECT_EQ(Oamtab("add one-more 1 zb5t 1").exitCode, 1);
    EXPECT_EQ(Oamtab("load /nonexistent/file").exitCode, 1);
}

TEST(Oamtab, EveryCommandExplainsItself) {
    for (const char* command : {"list", "add", "remove", "load", "clear", "qm"}) {
        Result help = Oamtab(std::string(command) + " --help");
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.output.rfind(std::string("usage: oamtab ") + command, 0), 0u) << command;
    }
    EXPECT_EQ(Oamtab("--help").exitCode, 0);
    EXPECT_EQ(Oamtab("").exitCode, 2);
    EXPECT_EQ(Oamtab("frobnicate").exitCode, 2);
}

}  // namespace

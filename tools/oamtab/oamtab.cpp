// oamtab: writes and shows the board-identity table in the shared segment
// "OAM_BoardIDsShadow", as the OAM supervisor keeps it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "board_line.h"
#include "oam/board_table_writer.h"
#include "services/pxi.h"

namespace {

typedef std::vector<std::string> Words;
typedef int (*Run)(CBoardTableWriter& table, const Words& args);

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    Run run;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "oamtab: %s\n", message.c_str());
    return 1;
}

// A wrong command line.
int Usage(const std::string& message) {
    std::fprintf(stderr, "oamtab: %s\n", message.c_str());
    return 2;
}

// Explains a refused change of the table.
int Refused(CBoardTableWriter& table, int result, const std::string& name) {
    switch (result) {
    case 0:
        return 0;
    case EEXIST:
        return Fail("a board named \"" + name + "\" is already in the table");
    case ENOENT:
        return Fail("no board named \"" + name + "\" in the table");
    case EOVERFLOW:
        return Fail("the table would not fit its segment, which holds at most " +
                    std::to_string(table.GetCapacity()) + " boards; nothing was written");
    default:
        return Fail(std::string("the table could not be written: ") + std::strerror(result));
    }
}

int List(CBoardTableWriter& table, const Words& args) {
    if (!args.empty()) {
        return Usage("list takes no arguments");
    }
    // One copy of the whole table, so the list is a table that existed.
    std::vector<OAMSHADOW_BOARD> boards(static_cast<size_t>(table.GetCapacity()) + 1);
    int size = 0;
    bool qm = false;
    int status = oamShadowInit();
    if (status == 0) {
        status = oamShadowCopyTable(0, boards.data(), static_cast<int>(boards.size()), &size, &qm);
        oamShadowExit();
    }
    if (status != 0) {
        return Fail("the table could not be read");
    }
    std::printf("qm plug-in: %s\n", qm ? "on" : "off");
    std::printf("position\tname\tnumber\tdriver\tdriver board ID\tA-law\n");
    for (int i = 0; i < size; ++i) {
        const OAMSHADOW_BOARD& board = boards[static_cast<size_t>(i)];
        std::printf("%d\t%s\t%u\t%s\t%s\t%s\n", i, board.name, board.number, board.driverName,
                    board.driverBoardID, board.isUsingALaw ? "yes" : "no");
    }
    return 0;
}

int Add(CBoardTableWriter& table, const Words& args) {
    if (args.size() < 4 || args.size() > 5 || (args.size() == 5 && args[4] != "--alaw")) {
        return Usage("expected NAME NUMBER DRIVER ID [--alaw]");
    }
    CBoardIDShadow record;
    std::string error;
    if (!ParseBoard(args, "--alaw", &record, &error)) {
        return Fail(error);
    }
    return Refused(table, table.Insert(record), record.GetName());
}

int Remove(CBoardTableWriter& table, const Words& args) {
    if (args.size() != 1) {
        return Usage("expected NAME");
    }
    return Refused(table, table.Remove(args[0].c_str()), args[0]);
}

bool ByName(const CBoardIDShadow& a, const CBoardIDShadow& b) {
    return pxiStricmp(a.GetName(), b.GetName()) < 0;
}

int Load(CBoardTableWriter& table, const Words& args) {
    if (args.size() != 1) {
        return Usage("expected FILE");
    }
    struct stat status;
    if (stat(args[0].c_str(), &status) != 0) {
        return Fail("cannot read \"" + args[0] + "\": " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        return Fail("\"" + args[0] + "\" is not a file");
    }
    std::ifstream file(args[0]);
    if (!file) {
        return Fail("cannot read \"" + args[0] + "\": " + std::strerror(errno));
    }
    std::vector<CBoardIDShadow> records;
    std::vector<int> lines;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        Words words = SplitLine(line);
        if (words.empty()) {
            continue;
        }
        CBoardIDShadow record;
        std::string error;
        if (!ParseBoard(words, "alaw", &record, &error)) {
            return Fail(args[0] + ":" + std::to_string(number) + ": " + error);
        }
        for (size_t i = 0; i < records.size(); ++i) {
            if (pxiStricmp(records[i].GetName(), record.GetName()) == 0) {
                return Fail(args[0] + ":" + std::to_string(number) + ": board \"" +
                            record.GetName() + "\" is already named on line " +
                            std::to_string(lines[i]));
            }
        }
        records.push_back(record);
        lines.push_back(number);
    }
    // A read that failed before the end would replace the table with a part.
    if (file.bad() || !file.eof()) {
        return Fail("cannot read \"" + args[0] + "\" to its end; nothing was written");
    }
    std::stable_sort(records.begin(), records.end(), ByName);
    return Refused(table, table.Replace(records.data(), static_cast<int>(records.size())), "");
}

int Clear(CBoardTableWriter& table, const Words& args) {
    if (!args.empty()) {
        return Usage("clear takes no arguments");
    }
    return Refused(table, table.Replace(nullptr, 0), "");
}

int Qm(CBoardTableWriter& table, const Words& args) {
    if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) {
        return Usage("expected on or off");
    }
    return Refused(table, table.SetIsUsingQmPlugin(args[0] == "on"), "");
}

const Command kCommands[] = {
    {"list", "list", "Shows the qm plug-in flag and every board in table order.", List},
    {"add", "add NAME NUMBER DRIVER ID [--alaw]",
     "Adds a board at its place in name order (names compare ignoring case).\n"
     "NAME and DRIVER hold at most 128 characters, ID at most 64; NUMBER is decimal.",
     Add},
    {"remove", "remove NAME", "Removes the board of that name (ignoring case).", Remove},
    {"load", "load FILE",
     "Replaces the whole table with the boards in FILE, one a line:\n"
     "  NAME NUMBER DRIVER ID [alaw]\n"
     "Words are separated by blanks; '#' starts a comment; blank lines are skipped.\n"
     "Nothing is written when any line is refused.",
     Load},
    {"clear", "clear", "Removes every board; the qm plug-in flag stays.", Clear},
    {"qm", "qm on|off", "Sets the table-wide qm plug-in flag.", Qm},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: oamtab COMMAND [ARGS]   (oamtab COMMAND --help for details)\n");
    for (const Command& command : kCommands) {
        std::fprintf(out, "  oamtab %s\n", command.usage);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) != 0) {
            continue;
        }
        Words args(argv + 2, argv + argc);
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            std::printf("usage: oamtab %s\n%s\n", command.usage, command.help);
            return 0;
        }
        CBoardTableWriter table(kBoardIDsShadowName, kBoardIDsShadowSize);
        if (table.GetOpenError() != 0) {
            return Fail(std::string("cannot open the board table: ") +
                        std::strerror(table.GetOpenError()));
        }
        return command.run(table, args);
    }
    std::fprintf(stderr, "oamtab: unknown command \"%s\"\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}

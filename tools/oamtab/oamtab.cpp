// oamtab: writes and shows the board-identity table in the shared segment
// "OAM_BoardIDsShadow", as the OAM supervisor keeps it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <pelklib.h>

#include "board_line.h"
#include "oam/board_table_writer.h"
#include "services/pxi.h"
#include "tools/common/json.h"
#include "tools/common/standard_descriptors.h"
#include "tools/common/tool_version.h"

namespace {

typedef std::vector<std::string> Words;
typedef int (*Run)(CBoardTableWriter& table, const Words& args);

// --json given before or after the command: list prints JSON.
bool s_json = false;

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

// Resolution finds no backend for such a board; the table keeps it.
void WarnAboutDriver(const CBoardIDShadow& record, const std::string& where) {
    const std::string driver = record.GetDriverName();
    const std::string id = record.GetDriverBoardID();
    if (driver != "zb5t" && driver != "qm" && driver != "zbhost") {
        std::fprintf(stderr, "oamtab: %swarning: board \"%s\" names driver \"%s\", which the "
                     "library does not know (zb5t, qm, zbhost)\n", where.c_str(),
                     record.GetName(), driver.c_str());
    }
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "oamtab: %swarning: board \"%s\" has driver board ID \"%s\", which "
                     "is not a decimal number: resolving its number fails\n", where.c_str(),
                     record.GetName(), id.c_str());
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
    JsonArray list;
    if (!s_json) {
        std::printf("qm plug-in: %s\n", qm ? "on" : "off");
        std::printf("position\tname\tnumber\tdriver\tdriver board ID\tA-law\n");
    }
    for (int i = 0; i < size; ++i) {
        const OAMSHADOW_BOARD& board = boards[static_cast<size_t>(i)];
        list.Obj(JsonObject()
                     .Str("name", board.name)
                     .Int("number", board.number)
                     .Str("driverName", board.driverName)
                     .Str("driverBoardID", board.driverBoardID)
                     .Bool("aLaw", board.isUsingALaw));
        if (!s_json) {
            std::printf("%d\t%s\t%u\t%s\t%s\t%s\n", i, board.name, board.number, board.driverName,
                        board.driverBoardID, board.isUsingALaw ? "yes" : "no");
        }
    }
    if (s_json) {
        std::printf("%s\n", JsonObject().Bool("qmPlugin", qm).Arr("boards", list).Render().c_str());
    }
    return 0;
}

int Add(CBoardTableWriter& table, const Words& args) {
    if (args.size() < 4 || args.size() > 5 || (args.size() == 5 && args[4] != "--alaw")) {
        return Usage("expected NAME NUMBER DRIVER ID [--alaw]");
    }
    CBoardIDShadow record;
    std::string error;
    if (!FieldsPrintable(args, &error)) {
        return Usage(error);
    }
    if (!ParseBoard(args, "--alaw", &record, &error)) {
        return Fail(error);
    }
    table.Lock();
    std::string holder;
    for (int i = 0; i < table.GetSize(); ++i) {
        holder = table[i].GetNumber() == record.GetNumber() ? table[i].GetName() : holder;
    }
    table.Unlock();
    if (!holder.empty()) {
        return Fail("board \"" + holder + "\" already has number " + args[1]);
    }
    WarnAboutDriver(record, "");
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
    const bool standardInput = args[0] == "-";
    struct stat status;
    if (!standardInput && stat(args[0].c_str(), &status) != 0) {
        return Fail("cannot read \"" + args[0] + "\": " + std::strerror(errno));
    }
    if (!standardInput && !S_ISREG(status.st_mode)) {
        return Fail("\"" + args[0] + "\" is not a file");
    }
    std::ifstream opened;
    if (!standardInput) {
        opened.open(args[0]);
        if (!opened) {
            return Fail("cannot read \"" + args[0] + "\": " + std::strerror(errno));
        }
    }
    std::istream& file = standardInput ? std::cin : opened;
    const std::string source = standardInput ? "standard input" : args[0];
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
        const std::string where = source + ":" + std::to_string(number) + ": ";
        if (!FieldsPrintable(words, &error)) {
            return Usage(where + error + "; nothing was written");
        }
        if (!ParseBoard(words, "alaw", &record, &error)) {
            return Fail(where + error);
        }
        for (size_t i = 0; i < records.size(); ++i) {
            if (pxiStricmp(records[i].GetName(), record.GetName()) == 0) {
                return Fail(where + "board \"" + record.GetName() + "\" is already named on line " +
                            std::to_string(lines[i]));
            }
            if (records[i].GetNumber() == record.GetNumber()) {
                return Fail(where + "number " + words[1] + " is already board \"" +
                            records[i].GetName() + "\" on line " + std::to_string(lines[i]));
            }
        }
        WarnAboutDriver(record, where);
        records.push_back(record);
        lines.push_back(number);
    }
    // A read that failed before the end would replace the table with a part.
    if (file.bad() || !file.eof()) {
        return Fail("cannot read " + source + " to its end; nothing was written");
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
    {"list", "list [--json]",
     "Shows the qm plug-in flag and every board in table order; with --json as one\n"
     "JSON object {\"qmPlugin\":...,\"boards\":[{\"name\",\"number\",\"driverName\",\n"
     "\"driverBoardID\",\"aLaw\"},...]}.",
     List},
    {"add", "add NAME NUMBER DRIVER ID [--alaw]",
     "Adds a board at its place in name order (names compare ignoring case).\n"
     "NAME and DRIVER hold at most 128 characters, ID at most 64; NUMBER is decimal.\n"
     "A name or number already in the table is refused; a DRIVER other than zb5t,\n"
     "qm, zbhost or an ID that is not a decimal number gets a warning.",
     Add},
    {"remove", "remove NAME", "Removes the board of that name (ignoring case).", Remove},
    {"load", "load FILE|-",
     "Replaces the whole table with the boards in FILE (- for standard input),\n"
     "one a line:\n"
     "  NAME NUMBER DRIVER ID [alaw]\n"
     "Words are separated by blanks; '#' starts a comment; blank lines are skipped.\n"
     "Nothing is written when any line is refused, such as a second board of one\n"
     "name or one number. Drivers and IDs are checked as by add.",
     Load},
    {"clear", "clear", "Removes every board; the qm plug-in flag stays.", Clear},
    {"qm", "qm on|off", "Sets the table-wide qm plug-in flag.", Qm},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: oamtab [--json] COMMAND [ARGS]   (oamtab COMMAND --help for details)\n"
                      "       oamtab --help | --version\n");
    for (const Command& command : kCommands) {
        std::fprintf(out, "  oamtab %s\n", command.usage);
    }
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    Words words(argv + 1, argv + argc);
    // --json may stand before or after the command, and only list uses it.
    const auto json = std::remove(words.begin(), words.end(), "--json");
    s_json = json != words.end();
    words.erase(json, words.end());
    if (words.empty() || words[0] == "--help") {
        PrintUsage(words.empty() ? stderr : stdout);
        return words.empty() ? 2 : 0;
    }
    if (words[0] == "--version") {
        PrintToolVersion("oamtab", pelklibVersion());
        return 0;
    }
    for (const Command& command : kCommands) {
        if (words[0] != command.name) {
            continue;
        }
        Words args(words.begin() + 1, words.end());
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            std::printf("usage: oamtab %s\n%s\n", command.usage, command.help);
            return 0;
        }
        if (s_json && command.run != List) {
            return Usage(std::string("--json applies to list only, not to ") + command.name);
        }
        CBoardTableWriter table(kBoardIDsShadowName, kBoardIDsShadowSize);
        if (table.GetOpenError() != 0) {
            return Fail(std::string("cannot open the board table: ") +
                        std::strerror(table.GetOpenError()));
        }
        return command.run(table, args);
    }
    std::fprintf(stderr, "oamtab: unknown command \"%s\"\n", words[0].c_str());
    PrintUsage(stderr);
    return 2;
}

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
#include "tools/common/help.h"
#include "tools/common/json.h"
#include "tools/common/options.h"
#include "tools/common/tool_version.h"

namespace {

typedef std::vector<std::string> Words;
typedef int (*Run)(CBoardTableWriter& table, const Arguments& args);

// --json given before the command or to list: list prints JSON.
bool s_json = false;

struct Command {
    const char* name;
    const char* arguments;           // positional arguments, for the help text
    const char* summary;             // one line for the list of commands
    const char* help;                // the command's description
    std::vector<OptionDef> options;  // besides --help
    size_t argumentCount;
    Run run;
    std::vector<const char*> examples;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "oamtab: %s\n", message.c_str());
    return 1;
}

// Explains a refused change of the table.
int Refused(CBoardTableWriter& table, int result, const std::string& name) {
    switch (result) {
        case 0: return 0;
        case EEXIST: return Fail("a board named \"" + name + "\" is already in the table");
        case ENOENT: return Fail("no board named \"" + name + "\" in the table");
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
        std::fprintf(stderr,
                     "oamtab: %swarning: board \"%s\" names driver \"%s\", which the "
                     "library does not know (zb5t, qm, zbhost)\n",
                     where.c_str(), record.GetName(), driver.c_str());
    }
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr,
                     "oamtab: %swarning: board \"%s\" has driver board ID \"%s\", which "
                     "is not a decimal number: resolving its number fails\n",
                     where.c_str(), record.GetName(), id.c_str());
    }
}

int List(CBoardTableWriter& table, const Arguments&) {
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

int Add(CBoardTableWriter& table, const Arguments& args) {
    Words fields = args.Positional();
    if (args.Has("--alaw")) {
        fields.push_back("alaw");
    }
    CBoardIDShadow record;
    std::string error;
    if (!ParseBoard(fields, &record, &error)) {
        return Fail(error);
    }
    table.Lock();
    std::string holder;
    for (int i = 0; i < table.GetSize(); ++i) {
        holder = table[i].GetNumber() == record.GetNumber() ? table[i].GetName() : holder;
    }
    table.Unlock();
    if (!holder.empty()) {
        return Fail("board \"" + holder + "\" already has number " + fields[1]);
    }
    WarnAboutDriver(record, "");
    return Refused(table, table.Insert(record), record.GetName());
}

int Remove(CBoardTableWriter& table, const Arguments& args) {
    const std::string& name = args.Positional()[0];
    return Refused(table, table.Remove(name.c_str()), name);
}

bool ByName(const CBoardIDShadow& a, const CBoardIDShadow& b) {
    return pxiStricmp(a.GetName(), b.GetName()) < 0;
}

int Load(CBoardTableWriter& table, const Arguments& args) {
    const std::string& path = args.Positional()[0];
    const bool standardInput = path == "-";
    struct stat status;
    if (!standardInput && stat(path.c_str(), &status) != 0) {
        return Fail("cannot read \"" + path + "\": " + std::strerror(errno));
    }
    if (!standardInput && !S_ISREG(status.st_mode)) {
        return Fail("\"" + path + "\" is not a file");
    }
    std::ifstream opened;
    if (!standardInput) {
        opened.open(path);
        if (!opened) {
            return Fail("cannot read \"" + path + "\": " + std::strerror(errno));
        }
    }
    std::istream& file = standardInput ? std::cin : opened;
    const std::string source = standardInput ? "standard input" : path;
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
        if (!ParseBoard(words, &record, &error)) {
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

int Clear(CBoardTableWriter& table, const Arguments&) {
    return Refused(table, table.Replace(nullptr, 0), "");
}

int Qm(CBoardTableWriter& table, const Arguments& args) {
    const std::string& word = args.Positional()[0];
    if (word != "on" && word != "off") {
        return ReportUsage("oamtab", "expected on or off, not \"" + word + "\"", "oamtab qm");
    }
    return Refused(table, table.SetIsUsingQmPlugin(word == "on"), "");
}

const OptionDef kJsonOption = {"--json", 'j', nullptr, "list: print the table as one JSON object"};
// oamtab's own options, before the command.
const std::vector<OptionDef> kToolOptions = {kJsonOption, kHelpOption, kVersionOption};

const Command kCommands[] = {
    {"list",
     "",
     "show the qm plug-in flag and every board",
     "Shows the qm plug-in flag and every board in table order; with --json as one\n"
     "JSON object {\"qmPlugin\":...,\"boards\":[{\"name\",\"number\",\"driverName\",\n"
     "\"driverBoardID\",\"aLaw\"},...]}.",
     {kJsonOption},
     0,
     List,
     {"oamtab list", "oamtab list --json"}},
    {"add",
     "NAME NUMBER DRIVER ID",
     "add one board",
     "Adds a board at its place in name order (names compare ignoring case).\n"
     "NAME and DRIVER hold at most 128 characters, ID at most 64; NUMBER is decimal.\n"
     "A name or number already in the table is refused; a DRIVER other than zb5t,\n"
     "qm, zbhost or an ID that is not a decimal number gets a warning.",
     {{"--alaw", 0, nullptr, "the board uses A-law"}},
     4,
     Add,
     {"oamtab add trunk-1 3 zb5t 0 --alaw", "oamtab add lab 9 zbhost 0"}},
    {"remove",
     "NAME",
     "remove one board",
     "Removes the board of that name (ignoring case).",
     {},
     1,
     Remove,
     {"oamtab remove lab"}},
    {"load",
     "FILE|-",
     "replace the whole table with the boards in FILE",
     "Replaces the whole table with the boards in FILE (- for standard input),\n"
     "one a line:\n"
     "  NAME NUMBER DRIVER ID [alaw]\n"
     "Words are separated by blanks; '#' starts a comment; blank lines are skipped.\n"
     "Nothing is written when any line is refused, such as a second board of one\n"
     "name or one number. Drivers and IDs are checked as by add.",
     {},
     1,
     Load,
     {"oamtab load boards.txt", "oamtab load - < boards.txt"}},
    {"clear",
     "",
     "remove every board",
     "Removes every board; the qm plug-in flag stays.",
     {},
     0,
     Clear,
     {"oamtab clear"}},
    {"qm",
     "on|off",
     "set the table-wide qm plug-in flag",
     "Sets the table-wide qm plug-in flag.",
     {},
     1,
     Qm,
     {"oamtab qm on"}},
};

HelpPage ToolHelp() {
    HelpPage page = {
        {"oamtab [-j] COMMAND [OPTIONS] [ARGUMENTS]", "oamtab help [COMMAND]", "oamtab -h | -V"},
        "Writes and shows the board-identity table in the shared segment\n"
        "\"OAM_BoardIDsShadow\", as the OAM supervisor keeps it.\n"
        "Exit status: 0 on success, 1 for a refused change, 2 for a wrong command "
        "line.",
        {},
        kToolOptions,
        {"oamtab load boards.txt", "oamtab add trunk-1 3 zb5t 0 --alaw", "oamtab -j list",
         "oamtab qm on", "oamtab add --help"}};
    for (const Command& command : kCommands) {
        page.commands.push_back(
            {std::string(command.name) + (*command.arguments ? " " : "") + command.arguments,
             command.summary});
    }
    return page;
}

std::vector<OptionDef> CommandOptions(const Command& command) {
    std::vector<OptionDef> options = command.options;
    options.push_back(kHelpOption);
    return options;
}

void PrintCommandHelp(const Command& command) {
    PrintHelp(stdout, {{CommandUsage("oamtab", command.name, command.arguments)},
                       command.help,
                       {},
                       CommandOptions(command),
                       {command.examples.begin(), command.examples.end()}});
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

// oamtab help [COMMAND]
int Help(const Words& words) {
    if (words.size() == 1) {
        PrintHelp(stdout, ToolHelp());
        return 0;
    }
    const Command* command = FindCommand(words[1]);
    if (command == nullptr || words.size() > 2) {
        return ReportUsage(
            "oamtab",
            words.size() > 2 ? "help takes one COMMAND" : "unknown command \"" + words[1] + "\"",
            "oamtab");
    }
    PrintCommandHelp(*command);
    return 0;
}

int RunCommand(const Command& command, const Words& words, bool json) {
    Arguments args;
    std::string wrong = args.Parse(CommandOptions(command), words);
    if (wrong.empty() && args.Has("--help")) {
        PrintCommandHelp(command);
        return 0;
    }
    if (wrong.empty() && args.Positional().size() != command.argumentCount) {
        wrong = command.argumentCount == 0 ? std::string(command.name) + " takes no arguments"
                                           : std::string("expected ") + command.arguments;
    }
    if (wrong.empty() && json && command.run != List) {
        wrong = std::string("--json applies to list only, not to ") + command.name;
    }
    if (!wrong.empty()) {
        return ReportUsage("oamtab", wrong, std::string("oamtab ") + command.name);
    }
    s_json = json || args.Has("--json");
    CBoardTableWriter table(kBoardIDsShadowName, kBoardIDsShadowSize);
    if (table.GetOpenError() != 0) {
        return Fail(std::string("cannot open the board table: ") +
                    std::strerror(table.GetOpenError()));
    }
    return command.run(table, args);
}

}  // namespace

int main(int argc, char** argv) {
    Arguments tool;
    const std::string wrong = tool.Parse(kToolOptions, {argv + 1, argv + argc}, true);
    const Words& words = tool.Positional();
    if (!wrong.empty()) {
        return ReportUsage("oamtab", wrong, "oamtab");
    }
    if (tool.Has("--version")) {
        PrintToolVersion("oamtab", pelklibVersion());
        return 0;
    }
    if (tool.Has("--help")) {
        PrintHelp(stdout, ToolHelp());
        return 0;
    }
    if (words.empty()) {
        PrintHelp(stderr, ToolHelp());
        return kUsageExitStatus;
    }
    if (words[0] == "help") {
        return Help(words);
    }
    const Command* command = FindCommand(words[0]);
    if (command == nullptr) {
        return ReportUsage("oamtab", "unknown command \"" + words[0] + "\"", "oamtab");
    }
    return RunCommand(*command, {words.begin() + 1, words.end()}, tool.Has("--json"));
}

// oamtab: writes and shows the board-identity table in the shared segment
// "OAM_BoardIDsShadow", as the OAM supervisor keeps it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <pelklib.h>

#include "board_line.h"
#include "oam/board_table_writer.h"
#include "services/pxi.h"
#include "tools/common/board_json.h"
#include "tools/common/board_table.h"
#include "tools/common/help.h"
#include "tools/common/library_diagnostics.h"
#include "tools/common/options.h"
#include "tools/common/output.h"
#include "tools/common/standard_descriptors.h"
#include "tools/common/tool_version.h"

namespace {

typedef std::vector<std::string> Words;

struct Invocation {
    Arguments args;
    Output out;
};

struct Command {
    const char* name;
    const char* arguments;           // positional arguments, for the help text
    const char* summary;             // one line for the list of commands
    const char* help;                // the command's description
    std::vector<OptionDef> options;  // besides --json and --help
    size_t argumentCount;
    int (*run)(Invocation& invocation);  // returns the exit status
    std::vector<const char*> examples;
};

const OptionDef kJsonOption = {"--json", 'j', nullptr,
                               "print one JSON object on stdout instead of text"};
const OptionDef kForceOption = {
    "--force", 'f', nullptr,
    "also store a board whose number cannot be resolved (a driver the library does not know, a "
    "driver board ID that is not a decimal number), with a warning"};

// The table, opened for a change; null when it cannot be opened (said).
std::unique_ptr<CBoardTableWriter> OpenTable(Output& out) {
    auto table = std::make_unique<CBoardTableWriter>(kBoardIDsShadowName, kBoardIDsShadowSize);
    if (table->GetOpenError() != 0) {
        out.Doing("open the board-identity table");
        out.Failure(table->GetOpenError(), nullptr);
        out.Error(std::string("cannot open the board-identity table: ") +
                  std::strerror(table->GetOpenError()));
        return nullptr;
    }
    return table;
}

// Explains a refused change of the table; returns the exit status.
int Refused(Output& out, CBoardTableWriter& table, int result, const std::string& name) {
    if (result == 0) {
        return kExitOk;
    }
    out.Failure(result, nullptr);
    switch (result) {
        case EEXIST: out.Error("a board named \"" + name + "\" is already in the table"); break;
        case ENOENT: out.Error("no board named \"" + name + "\" in the table"); break;
        case EOVERFLOW:
            out.Error("the table would not fit its segment, which holds at most " +
                      std::to_string(table.GetCapacity()) + " boards; nothing was written");
            break;
        default: out.Error(std::string("the table could not be written: ") + std::strerror(result));
    }
    return kExitFailed;
}

// A board that resolution cannot resolve is refused, or with --force kept
// with a warning; where names the line it came from. True when it may be
// stored.
bool Resolvable(Invocation& invocation, const CBoardIDShadow& record, const std::string& where) {
    const std::string why = UnresolvableBoard(record);
    if (why.empty()) {
        return true;
    }
    if (invocation.args.Has("--force")) {
        invocation.out.Warning(where + why + ": resolving its number fails");
        return true;
    }
    invocation.out.Error(where + why +
                         ", so resolving its number would fail; nothing was written "
                         "(--force stores it anyway)");
    return false;
}

int List(Invocation& invocation) {
    Output& out = invocation.out;
    std::vector<OAMSHADOW_BOARD> boards;
    bool qm = false;
    std::string why;
    const int status = ReadBoardTable(&boards, &qm, &why);
    if (status != 0) {
        out.Doing("read the board-identity table");
        out.Failure(status, nullptr);
        out.Error(why);
        return kExitFailed;
    }
    out.Text("qm plug-in: %s\nposition\tname\tnumber\tdriver\tdriver board ID\tA-law\n",
             qm ? "on" : "off");
    JsonArray list;
    for (size_t i = 0; i < boards.size(); ++i) {
        const OAMSHADOW_BOARD& board = boards[i];
        list.Obj(BoardJson(board));
        out.Text("%zu\t%s\t%u\t%s\t%s\t%s\n", i, board.name, board.number, board.driverName,
                 board.driverBoardID, board.isUsingALaw ? "yes" : "no");
    }
    out.Fields().Bool("qmPlugin", qm).Arr("boards", list);
    return kExitOk;
}

int Add(Invocation& invocation) {
    Output& out = invocation.out;
    Words fields = invocation.args.Positional();
    if (invocation.args.Has("--alaw")) {
        fields.push_back("alaw");
    }
    CBoardIDShadow record;
    std::string error;
    if (!FieldsPrintable(fields, &error) || !ParseBoard(fields, &record, &error)) {
        return out.Usage(error);
    }
    out.Fields().Obj("board",
                     BoardJson(record.GetName(), record.GetNumber(), record.GetDriverName(),
                               record.GetDriverBoardID(), record.GetIsUsingALaw()));
    if (!Resolvable(invocation, record, "")) {
        return kExitFailed;
    }
    std::unique_ptr<CBoardTableWriter> table = OpenTable(out);
    if (!table) {
        return kExitFailed;
    }
    table->Lock();
    std::string holder;
    for (int i = 0; i < table->GetSize(); ++i) {
        holder = (*table)[i].GetNumber() == record.GetNumber() ? (*table)[i].GetName() : holder;
    }
    table->Unlock();
    if (!holder.empty()) {
        out.Error("board \"" + holder + "\" already has number " + fields[1]);
        return kExitFailed;
    }
    return Refused(out, *table, table->Insert(record), record.GetName());
}

int Remove(Invocation& invocation) {
    const std::string& name = invocation.args.Positional()[0];
    invocation.out.Fields().Str("name", name);
    std::unique_ptr<CBoardTableWriter> table = OpenTable(invocation.out);
    return table ? Refused(invocation.out, *table, table->Remove(name.c_str()), name) : kExitFailed;
}

bool ByName(const CBoardIDShadow& a, const CBoardIDShadow& b) {
    return pxiStricmp(a.GetName(), b.GetName()) < 0;
}

// Reads the boards of a table file; kExitOk, or the exit status of a
// refused line (said).
int ReadBoards(Invocation& invocation, std::istream& file, const std::string& source,
               std::vector<CBoardIDShadow>* records) {
    Output& out = invocation.out;
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
            // Text no table can hold, like a wrong command line.
            out.Error(where + error + "; nothing was written");
            return kExitUsage;
        }
        if (!ParseBoard(words, &record, &error)) {
            out.Error(where + error);
            return kExitFailed;
        }
        for (size_t i = 0; i < records->size(); ++i) {
            const CBoardIDShadow& earlier = (*records)[i];
            if (pxiStricmp(earlier.GetName(), record.GetName()) == 0) {
                out.Error(where + "board \"" + record.GetName() + "\" is already named on line " +
                          std::to_string(lines[i]));
                return kExitFailed;
            }
            if (earlier.GetNumber() == record.GetNumber()) {
                out.Error(where + "number " + words[1] + " is already board \"" +
                          earlier.GetName() + "\" on line " + std::to_string(lines[i]));
                return kExitFailed;
            }
        }
        if (!Resolvable(invocation, record, where)) {
            return kExitFailed;
        }
        records->push_back(record);
        lines.push_back(number);
    }
    // A read that failed before the end would replace the table with a part.
    if (file.bad() || !file.eof()) {
        out.Error("cannot read " + source + " to its end; nothing was written");
        return kExitFailed;
    }
    return kExitOk;
}

int Load(Invocation& invocation) {
    Output& out = invocation.out;
    const std::string& path = invocation.args.Positional()[0];
    const bool standardInput = path == "-";
    out.Fields().Str("source", standardInput ? "-" : path);
    struct stat status;
    if (!standardInput && stat(path.c_str(), &status) != 0) {
        out.Error("cannot read \"" + path + "\": " + std::strerror(errno));
        return kExitFailed;
    }
    if (!standardInput && !S_ISREG(status.st_mode)) {
        out.Error("\"" + path + "\" is not a file");
        return kExitFailed;
    }
    std::ifstream opened;
    if (!standardInput) {
        opened.open(path);
        if (!opened) {
            out.Error("cannot read \"" + path + "\": " + std::strerror(errno));
            return kExitFailed;
        }
    }
    std::vector<CBoardIDShadow> records;
    const int read = ReadBoards(invocation, standardInput ? std::cin : opened,
                                standardInput ? "standard input" : path, &records);
    if (read != kExitOk) {
        return read;
    }
    std::stable_sort(records.begin(), records.end(), ByName);
    out.Fields().Int("count", static_cast<long long>(records.size()));
    std::unique_ptr<CBoardTableWriter> table = OpenTable(out);
    return table ? Refused(out, *table,
                           table->Replace(records.data(), static_cast<int>(records.size())), "")
                 : kExitFailed;
}

int Clear(Invocation& invocation) {
    std::unique_ptr<CBoardTableWriter> table = OpenTable(invocation.out);
    return table ? Refused(invocation.out, *table, table->Replace(nullptr, 0), "") : kExitFailed;
}

int Qm(Invocation& invocation) {
    const std::string& word = invocation.args.Positional()[0];
    if (word != "on" && word != "off") {
        return invocation.out.Usage("expected on or off, not \"" + word + "\"");
    }
    invocation.out.Fields().Bool("qmPlugin", word == "on");
    std::unique_ptr<CBoardTableWriter> table = OpenTable(invocation.out);
    return table ? Refused(invocation.out, *table, table->SetIsUsingQmPlugin(word == "on"), "")
                 : kExitFailed;
}

// oamtab's own options, before the command.
const std::vector<OptionDef> kToolOptions = {kJsonOption, kHelpOption, kVersionOption};

const Command kCommands[] = {
    {"list",
     "",
     "show the qm plug-in flag and every board",
     "Shows the qm plug-in flag and every board in table order; with --json as one\n"
     "JSON object {\"command\":\"list\",\"ok\":true,\"qmPlugin\":...,\"boards\":[{\"name\",\n"
     "\"number\",\"driverName\",\"driverBoardID\",\"aLaw\"},...]}. Without a table it says\n"
     "so and makes none.",
     {},
     0,
     List,
     {"oamtab list", "oamtab list --json"}},
    {"add",
     "NAME NUMBER DRIVER ID",
     "add one board",
     "Adds a board at its place in name order (names compare ignoring case).\n"
     "NAME and DRIVER hold at most 128 characters, ID at most 64; NUMBER is decimal.\n"
     "A name or number already in the table is refused, as is a board whose number\n"
     "cannot be resolved: a DRIVER other than zb5t, qm, zbhost, or an ID that is\n"
     "not a decimal number (--force stores it with a warning).",
     {{"--alaw", 0, nullptr, "the board uses A-law"}, kForceOption},
     4,
     Add,
     {"oamtab add trunk-1 3 zb5t 0 --alaw", "oamtab add lab 9 zbhost 0",
      "oamtab add spare 12 zb5t unset --force"}},
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
     {kForceOption},
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
        "Every command takes --json (one JSON object on stdout, in the schema of pelk:\n"
        "\"command\", \"ok\", the facts, and for a failure an \"error\" object) and --help.\n"
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

// The command's options, then --json and --help.
std::vector<OptionDef> CommandOptions(const Command& command) {
    std::vector<OptionDef> options = command.options;
    options.push_back(kJsonOption);
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

// A wrong command line before the command is known; with --json a JSON
// object like any other failure.
int ToolUsage(const std::string& name, bool json, const std::string& problem) {
    Output out("oamtab", name, json);
    return out.Finish(out.ToolUsage(problem));
}

// oamtab help [COMMAND]
int Help(const Words& words, bool json) {
    if (words.size() == 1) {
        PrintHelp(stdout, ToolHelp());
        return kExitOk;
    }
    const Command* command = FindCommand(words[1]);
    if (command == nullptr || words.size() > 2) {
        return ToolUsage(
            "help", json,
            words.size() > 2 ? "help takes one COMMAND" : "unknown command \"" + words[1] + "\"");
    }
    PrintCommandHelp(*command);
    return kExitOk;
}

int RunCommand(const Command& command, const Words& words, bool json) {
    Arguments args;
    std::string wrong = args.Parse(CommandOptions(command), words);
    Invocation invocation{args, Output("oamtab", command.name, json || args.Has("--json"))};
    if (wrong.empty() && args.Has("--help")) {
        PrintCommandHelp(command);
        return kExitOk;
    }
    if (wrong.empty() && args.Positional().size() != command.argumentCount) {
        wrong = command.argumentCount == 0 ? std::string(command.name) + " takes no arguments"
                                           : std::string("expected ") + command.arguments;
    }
    if (!wrong.empty()) {
        return invocation.out.Finish(invocation.out.Usage(wrong));
    }
    return invocation.out.Finish(command.run(invocation));
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    // The library's diagnostics go to stderr, or become the cause of the
    // failure they explain.
    pelkSetLogCallback(HoldLibraryDiagnostic, nullptr);
    Arguments tool;
    const std::string wrong = tool.Parse(kToolOptions, {argv + 1, argv + argc}, true);
    const Words& words = tool.Positional();
    const std::string name = words.empty() ? "" : words.front();
    // Until the command's options are known, --json anywhere asks for JSON.
    const bool json = tool.Has("--json") || std::count(words.begin(), words.end(), "--json") ||
                      std::count(words.begin(), words.end(), "-j");
    if (!wrong.empty()) {
        return ToolUsage(name, json, wrong);
    }
    if (tool.Has("--version")) {
        PrintToolVersion("oamtab", pelklibVersion());
        return kExitOk;
    }
    if (tool.Has("--help")) {
        PrintHelp(stdout, ToolHelp());
        return kExitOk;
    }
    if (words.empty() && !json) {
        PrintHelp(stderr, ToolHelp());
        return kExitUsage;
    }
    if (name == "help") {
        return Help(words, json);
    }
    const Command* command = FindCommand(name);
    if (command == nullptr) {
        return ToolUsage(name, json,
                         name.empty() ? "no command given" : "unknown command \"" + name + "\"");
    }
    return RunCommand(*command, {words.begin() + 1, words.end()}, tool.Has("--json"));
}

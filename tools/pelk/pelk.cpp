// pelk: command-line access to zb5t boards and the board-identity table
// through pelklib's public API.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/help.h"
#include "tools/common/library_diagnostics.h"
#include "tools/common/standard_descriptors.h"
#include "tools/common/tool_version.h"
#include "tools/pelk/command.h"
#include "tools/pelk/target.h"

namespace {

const Command* const kCommands[] = {
    &kBoardsCommand, &kResolveCommand, &kInfoCommand,  &kPingCommand,    &kDataCommand,
    &kResetCommand,  &kReleaseCommand, &kStatsCommand, &kErrtextCommand, &kTraceCommand};

const OptionDef kJsonOption = {"--json", 'j', nullptr,
                               "print one JSON object on stdout instead of text"};
// pelk's own options, before the command.
const std::vector<OptionDef> kToolOptions = {kJsonOption, kRemoteOption, kHelpOption,
                                             kVersionOption};

const char kDescription[] =
    "Shows the board-identity table and talks to boards through pelklib.\n"
    "Every command takes --json (one JSON object on stdout; a failure has an\n"
    "\"error\" object) and --help. Options take their value as --name VALUE,\n"
    "--name=VALUE or -x VALUE; after \"--\" every word is an argument. The\n"
    "library's diagnostic texts go to standard error.\n"
    "Exit status: 0 on success, 1 when an operation fails, 2 for a wrong\n"
    "command line, 130 when interrupted.\n"
    "\n"
    "info, ping, data, reset, release and stats work on the board chosen by\n"
    "--board N (logical number in the board-identity table) or by --driver\n"
    "zb5t|zbhost [--id ID] (default: --driver zbhost --id 0).\n"
    "\n"
    "With --remote TARGET (unix:PATH or HOST:PORT) every command works on the\n"
    "boards and table of the host of the pelkd at TARGET instead: boards and\n"
    "resolve read its table, the board commands its boards (errtext and trace are\n"
    "the same everywhere). Over TCP, PELK_TLS_CA, PELK_TLS_CERT and PELK_TLS_KEY\n"
    "name the CA, certificate and key of TLS.";

std::string Call(const Command& command) {
    return std::string(command.name) + (*command.usage ? " " : "") + command.usage;
}

HelpPage ToolHelp() {
    HelpPage page = {
        {"pelk [-j] COMMAND [OPTIONS] [ARGUMENTS]", "pelk help [COMMAND]", "pelk -h | -V"},
        kDescription,
        {},
        kToolOptions,
        {"pelk boards", "pelk ping --board 1 --count=1000", "pelk -j resolve 2", "pelk errtext -16",
         "pelk --remote unix:/run/pelk/pelkd.sock ping --board 1",
         "pelk --remote boards1.example.net:7001 boards", "pelk ping --help"}};
    for (const Command* command : kCommands) {
        page.commands.push_back({Call(*command), command->summary});
    }
    return page;
}

// The command's options, then the board options, then --json and --help.
std::vector<OptionDef> CommandOptions(const Command& command) {
    std::vector<OptionDef> options = command.options;
    if (command.onBoard) {
        options.insert(options.end(), kTargetOptions.begin(), kTargetOptions.end());
    }
    options.push_back(kRemoteOption);
    options.push_back(kJsonOption);
    options.push_back(kHelpOption);
    return options;
}

void PrintCommandHelp(const Command& command) {
    std::string description = command.summary;
    description[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(description[0])));
    PrintHelp(stdout, {{CommandUsage("pelk", command.name, command.usage)},
                       description + ".",
                       {},
                       CommandOptions(command),
                       {command.examples.begin(), command.examples.end()}});
}

const Command* FindCommand(const std::string& name) {
    for (const Command* command : kCommands) {
        if (name == command->name) {
            return command;
        }
    }
    return nullptr;
}

// A wrong command line before the command is known; with --json a JSON
// object like any other failure.
int ToolUsage(const std::string& name, bool json, const std::string& problem) {
    Output out("pelk", name, json);
    return out.Finish(out.ToolUsage(problem));
}

// pelk help [COMMAND]
int Help(const std::vector<std::string>& words, bool json) {
    Arguments args;
    std::string wrong = args.Parse({kJsonOption, kHelpOption}, {words.begin() + 1, words.end()});
    const std::vector<std::string>& topic = args.Positional();
    const Command* command = topic.size() == 1 ? FindCommand(topic[0]) : nullptr;
    if (wrong.empty() && topic.size() > 1) {
        wrong = "help takes one COMMAND";
    } else if (wrong.empty() && topic.size() == 1 && command == nullptr) {
        wrong = "unknown command " + topic[0];
    }
    if (!wrong.empty()) {
        return ToolUsage("help", json || args.Has("--json"), wrong);
    }
    if (command == nullptr) {
        PrintHelp(stdout, ToolHelp());
    } else {
        PrintCommandHelp(*command);
    }
    return kExitOk;
}

// remote: the pelkd given before the command, or "".
int RunCommand(const Command& command, const std::vector<std::string>& words, bool json,
               const std::string& remote) {
    Arguments args;
    std::string wrong = args.Parse(CommandOptions(command), words);
    // --json-lines (trace) asks for JSON as well.
    const bool asJson = json || args.Has("--json") || args.Has("--json-lines");
    Invocation invocation{args, Output("pelk", command.name, asJson),
                          args.Has("--remote") ? args.Value("--remote") : remote};
    if (wrong.empty() && (args.Has("--remote") || !remote.empty()) && invocation.remote.empty()) {
        wrong = "--remote needs a target: unix:PATH or HOST:PORT";
    }
    if (wrong.empty() && args.Has("--help")) {
        PrintCommandHelp(command);
        return kExitOk;
    }
    const size_t count = args.Positional().size();
    if (wrong.empty() && (count < command.minArguments || count > command.maxArguments)) {
        wrong = "wrong number of arguments, expected " +
                CommandUsage("pelk", command.name, command.usage);
    }
    if (!wrong.empty()) {
        return invocation.out.Finish(invocation.out.Usage(wrong));
    }
    return invocation.out.Finish(command.run(invocation));
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    // The library's diagnostics never mix with the results on stdout: they
    // go to stderr, or become the cause of the failure they explain.
    pelkSetLogCallback(HoldLibraryDiagnostic, nullptr);
    Arguments tool;
    const std::string wrong = tool.Parse(kToolOptions, {argv + 1, argv + argc}, true);
    const std::vector<std::string>& words = tool.Positional();
    const std::string name = words.empty() ? "" : words.front();
    const Command* command = FindCommand(name);
    // Until the command's options are known, --json anywhere asks for JSON.
    const bool json = tool.Has("--json") ||
                      (command == nullptr && (std::count(words.begin(), words.end(), "--json") ||
                                              std::count(words.begin(), words.end(), "-j")));
    if (!wrong.empty()) {
        return ToolUsage(name, json, wrong);
    }
    if (tool.Has("--version")) {
        PrintToolVersion("pelk", pelklibVersion());
        return kExitOk;
    }
    if (tool.Has("--help")) {
        PrintHelp(stdout, ToolHelp());
        return kExitOk;
    }
    if (name == "help") {
        return Help(words, json);
    }
    if (name.empty() && !json) {
        PrintHelp(stderr, ToolHelp());
        return kExitUsage;
    }
    if (command == nullptr) {
        return ToolUsage(name, json, name.empty() ? "no command given" : "unknown command " + name);
    }
    return RunCommand(*command, {words.begin() + 1, words.end()}, json, tool.Value("--remote"));
}

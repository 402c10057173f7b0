// pelk: command-line access to zb5t boards and the board-identity table
// through pelklib's public API.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/standard_descriptors.h"
#include "tools/common/tool_version.h"
#include "tools/pelk/command.h"
#include "tools/pelk/target.h"

namespace {

const Command* const kCommands[] = {&kBoardsCommand, &kResolveCommand, &kInfoCommand,
                                    &kPingCommand,   &kDataCommand,    &kResetCommand,
                                    &kReleaseCommand, &kStatsCommand,  &kErrtextCommand,
                                    &kTraceCommand};

const std::vector<OptionDef> kCommonOptions = {
    {"--json", nullptr, "print one JSON object on stdout instead of text"},
    {"--help", nullptr, "show this help"},
};

std::string Usage(const Command& command) {
    return std::string("pelk ") + command.name + " [OPTIONS]" + (*command.usage ? " " : "") +
           command.usage;
}

void PrintHelp(FILE* to) {
    std::fprintf(to,
        "Usage: pelk [--json] COMMAND [OPTIONS] [ARGUMENTS]\n"
        "       pelk --help | --version\n"
        "\n"
        "Shows the board-identity table and talks to boards through pelklib.\n"
        "Every command takes --json (one JSON object on stdout; a failure has an\n"
        "\"error\" object) and --help. Options take their value as --name VALUE or\n"
        "--name=VALUE. The library's diagnostic texts go to standard error.\n"
        "Exit status: 0 on success, 1 when an operation fails, 2 for a wrong\n"
        "command line, 130 when interrupted.\n"
        "\n"
        "info, ping, data, reset, release and stats work on the board chosen by\n"
        "--board N (logical number in the board-identity table) or by --driver\n"
        "zb5t|zbhost [--id ID] (default: --driver zbhost --id 0).\n"
        "\n"
        "Commands:\n");
    for (const Command* command : kCommands) {
        std::string call = std::string(command->name) + " " + command->usage;
        std::fprintf(to, "  %-24s %s\n", call.c_str(), command->summary);
    }
}

void PrintOptions(const std::vector<OptionDef>& options) {
    for (const OptionDef& option : options) {
        std::string call = std::string(option.name) + (option.value ? " " : "") +
                           (option.value ? option.value : "");
        std::printf("  %-24s %s\n", call.c_str(), option.help);
    }
}

void PrintCommandHelp(const Command& command) {
    std::printf("usage: %s\n%s\n\nOptions:\n", Usage(command).c_str(), command.summary);
    PrintOptions(command.options);
    if (command.onBoard) {
        PrintOptions(kTargetOptions);
    }
    PrintOptions(kCommonOptions);
}

// The library's diagnostics never mix with the results on stdout.
extern "C" void ToStandardError(const char* text, void*) {
    std::fputs(text, stderr);
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    pelkSetLogCallback(ToStandardError, nullptr);
    // Global options may come before the command; they are passed on to it
    // ahead of its own words (so never after a "--").
    std::vector<std::string> words(argv + 1, argv + argc);
    std::vector<std::string> leading;
    while (!words.empty() && words.front() == "--json") {
        leading.push_back(words.front());
        words.erase(words.begin());
    }
    const std::string name = words.empty() ? "" : words.front();
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp(stdout);
        return kExitOk;
    }
    if (name == "--version") {
        PrintToolVersion("pelk", pelklibVersion());
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const Command* candidate : kCommands) {
        command = name == candidate->name ? candidate : command;
    }
    if (command == nullptr) {
        // With --json the failure is a JSON object like any other.
        const bool json = !leading.empty() ||
                          std::find(words.begin(), words.end(), "--json") != words.end();
        if (json) {
            Output out(name, true);
            out.Error(name.empty() ? "no command given (see pelk --help)"
                                   : "unknown command " + name + " (see pelk --help)");
            return out.Finish(kExitUsage);
        }
        if (name.empty()) {
            PrintHelp(stderr);
        } else {
            std::fprintf(stderr, "pelk: unknown command %s (see pelk --help)\n", name.c_str());
        }
        return kExitUsage;
    }

    std::vector<OptionDef> allowed = command->options;
    if (command->onBoard) {
        allowed.insert(allowed.end(), kTargetOptions.begin(), kTargetOptions.end());
    }
    allowed.insert(allowed.end(), kCommonOptions.begin(), kCommonOptions.end());
    words.erase(words.begin());
    words.insert(words.begin(), leading.begin(), leading.end());
    Arguments args;
    const std::string error = args.Parse(allowed, words);
    bool json = false;
    for (const std::string& word : words) {
        json = json || word == "--json";
    }
    Invocation invocation{args, Output(command->name, json)};
    if (error.empty() && args.Has("--help")) {
        PrintCommandHelp(*command);
        return kExitOk;
    }
    const size_t count = args.Positional().size();
    if (!error.empty() || count < command->minArguments || count > command->maxArguments) {
        invocation.out.Error((error.empty() ? std::string("wrong number of arguments") : error) +
                             " (usage: " + Usage(*command) + ")");
        return invocation.out.Finish(kExitUsage);
    }
    return invocation.out.Finish(command->run(invocation));
}

// The commands of the pelk tool. Each command group lives in a file of its
// own and contributes entries to the table in pelk.cpp.
#ifndef PELK_TOOL_COMMAND_H
#define PELK_TOOL_COMMAND_H

#include <string>
#include <vector>

#include "tools/common/options.h"
#include "tools/common/output.h"

// The library passes a time-out on as a signed int: larger values would
// wait without limit.
constexpr unsigned int kMaxTimeoutMs = 2147483647u;

struct Invocation {
    Arguments args;
    Output out;
    // The pelkd whose host's boards and table the command works on
    // (--remote TARGET), or "" for this host's.
    std::string remote;
};

// --remote TARGET, which every command takes (before or after its name).
extern const OptionDef kRemoteOption;

struct Command {
    const char* name;
    const char* usage;               // positional arguments, for the help text
    const char* summary;             // one line for the help text
    std::vector<OptionDef> options;  // besides --json, --help and the board options
    bool onBoard;                    // takes --board / --driver / --id
    size_t minArguments;
    size_t maxArguments;
    // Returns the process exit status (ExitCode).
    int (*run)(Invocation& invocation);
    std::vector<const char*> examples;  // whole command lines, for the help text
};

// The board-identity table (commands_table.cpp).
extern const Command kBoardsCommand;
extern const Command kResolveCommand;
// Board operations (commands_board.cpp).
extern const Command kInfoCommand;
extern const Command kDataCommand;
extern const Command kResetCommand;
extern const Command kReleaseCommand;
extern const Command kStatsCommand;
// Messages (command_ping.cpp).
extern const Command kPingCommand;
// Status texts (command_errtext.cpp).
extern const Command kErrtextCommand;
// Capture files (command_trace.cpp).
extern const Command kTraceCommand;

#endif

// The commands of the pelk tool. Each command group lives in a file of its
// own and contributes entries to the table in pelk.cpp.
#ifndef PELK_TOOL_COMMAND_H
#define PELK_TOOL_COMMAND_H

#include <string>
#include <vector>

#include <pelklib.h>

// Options every command understands, taken from the command line first.
struct CommonOptions {
    PELKLIB_DRIVER_TYPE driver = PELKLIB_DRIVER_ZBHOST;
    unsigned int board = 0;
};

struct Command {
    const char* name;
    const char* usage;    // arguments after the command name
    const char* summary;  // one line for the help text
    // Returns the process exit status; arguments are what follows the name.
    int (*run)(const CommonOptions& options, const std::vector<std::string>& arguments);
};

// Command groups.
extern const Command kPingCommand;
extern const Command kEepromCommand;
extern const Command kDataCommand;

#endif

// The help text of every tool and command, in one layout made from the
// option tables the parser reads: "Usage:" lines, a description, the
// commands (for a tool that has them), the options with their short forms,
// and examples.
#ifndef PELK_TOOLS_HELP_H
#define PELK_TOOLS_HELP_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/options.h"

struct HelpEntry {
    std::string call;  // "resolve N"
    std::string text;  // one sentence, wrapped to the line width when printed
};

struct HelpPage {
    std::vector<std::string> usage;   // one call a line, after "Usage: "
    std::string description;          // lines; a longer one than 79 characters is wrapped
    std::vector<HelpEntry> commands;  // none for a tool without commands
    std::vector<OptionDef> options;
    std::vector<std::string> examples;
};

void PrintHelp(FILE* to, const HelpPage& page);

// A command's usage line: "pelk resolve [OPTIONS] N".
std::string CommandUsage(const char* tool, const char* command, const char* arguments);

// The command line of a program without commands (zbhost, pelkd), read by
// the options of its help page. --help and --version are answered, a wrong
// command line is reported, what takeValues finds wrong with the values
// included: false then, with the exit status in *exitStatus (0 or
// kUsageExitStatus). True when the program should run, its values taken.
bool ReadProgramOptions(const char* tool, const char* libraryVersion, const HelpPage& page,
                        int argc, char** argv,
                        const std::function<std::string(const Arguments&)>& takeValues,
                        int* exitStatus);

#endif

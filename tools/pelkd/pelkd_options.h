// pelkd's command line: each option once in a table, which the parser
// reads and the help text is made from.
#ifndef PELK_TOOLS_PELKD_PELKD_OPTIONS_H
#define PELK_TOOLS_PELKD_PELKD_OPTIONS_H

#include <string>

#include "tools/pelkd/pelkd_server.h"

enum class PelkdCommand { Serve, Help, Version, Usage };

// Reads the options into *settings. Usage comes with *problem; Serve with
// the default socket in settings when no --listen is given.
PelkdCommand ParsePelkdOptions(int argc, char** argv, PelkdSettings* settings,
                               std::string* problem);

// The help text, with the option table.
std::string PelkdHelp();

#endif

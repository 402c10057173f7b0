// pelkd's command line, read with the tools' option parser.
#ifndef PELK_TOOLS_PELKD_PELKD_OPTIONS_H
#define PELK_TOOLS_PELKD_PELKD_OPTIONS_H

#include "tools/pelkd/pelkd_server.h"

// Reads the command line into *settings (the default socket when no
// --listen is given); true when pelkd is to serve. False when it is done:
// the help or version printed (*exitStatus 0), or a wrong command line
// reported on standard error (*exitStatus 2).
bool ReadPelkdOptions(int argc, char** argv, PelkdSettings* settings, int* exitStatus);

#endif

// zbhost's command line, read with the tools' option parser.
#ifndef ZBHOST_OPTIONS_H
#define ZBHOST_OPTIONS_H

#include "tools/zbhost/replay.h"

struct ZbhostOptions {
    bool verbose = false;
    // Answer bytes all pairs together may queue before zbhost reads only
    // from pairs that queue less than an equal share of it.
    unsigned long long maxQueued = 256ull * 1024 * 1024;
    // Seconds a client has to open its pair after taking its number.
    unsigned long long openTimeout = 10;
    ReplayOptions replay;  // a replay when replay.file is not empty
};

// Reads the command line into *options; true when zbhost is to run. False
// when it is done: the help or version printed (*exitStatus 0), or a wrong
// command line reported on standard error (*exitStatus 2).
bool ReadZbhostOptions(int argc, char** argv, ZbhostOptions* options, int* exitStatus);

#endif

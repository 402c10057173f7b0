// zbhost: the board emulator runtime with its host manager. Hands out
// numbered pipe pairs in the emulator directory and serves each with an
// echo board, or replays a recorded session (--replay).
#include <cstdio>
#include <string>

#include "tools/zbhost/instance.h"
#include "tools/zbhost/replay.h"
#include "tools/zbhost/runtime.h"
#include "tools/zbhost/zbhost_options.h"

int main(int argc, char** argv) {
    ZbhostOptions options;
    int exitStatus = 0;
    if (!ReadZbhostOptions(argc, argv, &options, &exitStatus)) {
        return exitStatus;
    }
    std::string problem;
    const int lock = TakeInstance(options.verbose, &problem);
    if (lock == -1) {
        std::fprintf(stderr, "zbhost: %s\n", problem.c_str());
        return 1;
    }
    // Termination arrives as a readable descriptor in the serving loop.
    const int signals = StopSignals();
    if (signals == -1) {
        std::perror("zbhost: signalfd");
        LeaveInstance(lock);
        return 1;
    }
    PrepareForManyPairs();
    const int status = options.replay.file.empty()
                           ? Runtime(options).Serve(signals)
                           : RunReplay(options.replay, signals, options.verbose);
    LeaveInstance(lock);
    return status;
}

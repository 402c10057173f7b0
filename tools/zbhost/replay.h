// zbhost --replay: serves one client session from a capture file. Each
// message the client sends is compared with the next message the recorded
// application sent; then the messages the recorded application received
// before its next send are sent back, in order.
#ifndef ZBHOST_REPLAY_H
#define ZBHOST_REPLAY_H

#include <set>
#include <string>

struct ReplayOptions {
    std::string file;
    std::set<std::string> ignored;  // field names left out of the comparison
    bool timing = false;            // keep the recorded delays of the answers
};

// Checks the names given to --ignore; false with the first unknown one.
bool ValidReplayFields(const std::set<std::string>& fields, std::string* unknown);
// The names --ignore takes, for its message about an unknown one.
const char* ReplayFieldNames();

// Runs the session until the client closes its pipes, the capture is
// exhausted or a signal arrives on the signals descriptor. Returns the exit
// status: 0 when every message matched, 1 otherwise, 2 for an unreadable
// capture.
int RunReplay(const ReplayOptions& options, int signals, bool verbose);

#endif

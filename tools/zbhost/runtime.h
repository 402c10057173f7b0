// The echo service of zbhost: answers the manager's requests with pipe
// pairs and serves each pair with an echo board, until a stopping signal.
#ifndef ZBHOST_RUNTIME_H
#define ZBHOST_RUNTIME_H

#include <map>
#include <string>
#include <vector>

#include <poll.h>

#include "tools/zbhost/echo_pair.h"
#include "tools/zbhost/manager.h"
#include "tools/zbhost/zbhost_options.h"

class Runtime {
public:
    explicit Runtime(const ZbhostOptions& options)
        : m_verbose(options.verbose),
          m_max_queued(options.maxQueued),
          m_open_timeout(options.openTimeout) {}
    // Serves until a signal arrives on the signals descriptor; returns the
    // exit status.
    int Serve(int signals);

private:
    int PollTimeout(EchoPair::Clock::time_point now) const;
    void AnswerRequests();
    void NoteTakenReplies(EchoPair::Clock::time_point now);
    void RemoveUnopenedPairs(EchoPair::Clock::time_point now);
    void ServePairs(const std::vector<pollfd>& polled);
    void GiveBackMemory(size_t queued);
    void RemovePair(int number, const char* why, const std::string& detail);
    void RemoveEverything();

    const bool m_verbose;
    const unsigned long long m_max_queued;
    const unsigned long long m_open_timeout;
    Manager m_manager;
    std::map<int, EchoPair> m_pairs;
    EchoPair::Clock::time_point m_next_open_check;
    bool m_trim_due = false;
};

#endif

// The echo service of zbhost: answers the manager's requests with pipe
// pairs and serves each pair with an echo board, until a stopping signal.
#ifndef ZBHOST_RUNTIME_H
#define ZBHOST_RUNTIME_H

#include <cstddef>
#include <map>
#include <string>

#include "tools/zbhost/echo_pair.h"
#include "tools/zbhost/manager.h"
#include "tools/zbhost/zbhost_options.h"

// The work of one message costs the same however many pairs are served:
// the pairs' ends wait in one epoll set, changed only when what zbhost asks
// of an end changes, and only the pairs with events are looked at.
class Runtime {
public:
    explicit Runtime(const ZbhostOptions& options)
        : m_verbose(options.verbose),
          m_max_queued(options.maxQueued),
          m_open_timeout(options.openTimeout) {}
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;
    // Serves until a signal arrives on the signals descriptor; returns the
    // exit status.
    int Serve(int signals);

private:
    // A pair with what its ends ask for in the event set.
    struct WatchedPair {
        EchoPair pair;
        bool reading = false;  // its read end asks for input
        bool writing = false;  // its write end is in the set
    };

    int Timeout(EchoPair::Clock::time_point now) const;
    void AnswerRequests();
    void NoteTakenReplies(EchoPair::Clock::time_point now);
    void RemoveUnopenedPairs(EchoPair::Clock::time_point now);
    void ServePair(uint64_t event, uint32_t happened);
    bool Watch(int number, WatchedPair& watched);
    void WatchAll();
    void ReleaseIdleBuffers();
    void GiveBackMemory();
    void RemovePair(int number, const char* why, const std::string& detail);
    void RemoveEverything();

    const bool m_verbose;
    const unsigned long long m_max_queued;
    const unsigned long long m_open_timeout;
    Manager m_manager;
    int m_events = -1;  // the epoll set
    std::map<int, WatchedPair> m_pairs;
    size_t m_queued = 0;          // answer bytes all pairs queue
    bool m_over_bound = false;    // m_queued reached --max-queued when all were last watched
    size_t m_watched_pairs = 0;   // how many pairs shared the bound then
    bool m_unopened = false;      // some pair may not be opened by its client yet
    bool m_buffers_held = false;  // some pair may hold a buffer
    EchoPair::Clock::time_point m_next_open_check;
    EchoPair::Clock::time_point m_next_idle_check;
    bool m_trim_due = false;
};

#endif

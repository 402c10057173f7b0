// The sessions pelkd serves at once: at most perClient for one client and
// at most total in all.
#ifndef PELK_TOOLS_PELKD_SESSION_LIMITS_H
#define PELK_TOOLS_PELKD_SESSION_LIMITS_H

#include <map>
#include <mutex>
#include <string>

class SessionLimits {
public:
    SessionLimits(unsigned int perClient, unsigned int total)
        : m_per_client(perClient), m_total(total) {}

    // Counts one more session of client: true, or false with *refusal when
    // a limit is reached.
    bool Admit(const std::string& client, std::string* refusal);
    void Release(const std::string& client);

private:
    const unsigned int m_per_client;
    const unsigned int m_total;
    std::mutex m_lock;
    std::map<std::string, unsigned int> m_sessions;
    unsigned int m_all = 0;
};

#endif

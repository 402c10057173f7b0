#include "tools/pelkd/session_limits.h"

bool SessionLimits::Admit(const std::string& client, std::string* refusal) {
    std::lock_guard<std::mutex> hold(m_lock);
    unsigned int& sessions = m_sessions[client];
    if (sessions >= m_per_client) {
        *refusal = client + " has " + std::to_string(sessions) +
                   " sessions open, the most pelkd allows one client (--client-sessions)";
    } else if (m_all >= m_total) {
        *refusal =
            "pelkd serves " + std::to_string(m_all) + " sessions, the most it allows (--sessions)";
    } else {
        ++sessions;
        ++m_all;
        return true;
    }
    if (sessions == 0) {
        m_sessions.erase(client);
    }
    return false;
}

void SessionLimits::Release(const std::string& client) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto sessions = m_sessions.find(client);
    if (sessions != m_sessions.end() && --sessions->second == 0) {
        m_sessions.erase(sessions);
    }
    --m_all;
}

// The users of the clients on pelkd's Unix sockets, by the descriptor of
// their connection (gRPC names such a peer "fd:N").
#ifndef PELK_TOOLS_PELKD_PEER_USERS_H
#define PELK_TOOLS_PELKD_PEER_USERS_H

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>

class PeerUsers {
public:
    void Connected(int fd, uid_t user) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_users[fd] = user;
    }
    // "uid 1000" for peer "fd:N" of a known connection, else "".
    std::string ClientOf(const std::string& peer) const {
        if (peer.compare(0, 3, "fd:") != 0) {
            return "";
        }
        const int fd = std::atoi(peer.c_str() + 3);
        std::lock_guard<std::mutex> hold(m_lock);
        const auto user = m_users.find(fd);
        return user == m_users.end() ? "" : "uid " + std::to_string(user->second);
    }

private:
    mutable std::mutex m_lock;
    // A descriptor's entry is replaced when gRPC has closed it and it is
    // used again for another connection.
    std::map<int, uid_t> m_users;
};

#endif

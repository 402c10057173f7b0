// pelkd's Unix socket.
//
// Its directory is opened without following a symlink and checked on the
// descriptor: owned by pelkd's user or root, and not writable by every user
// unless sticky. The runtime directory (PELK_RUNTIME_DIR, else /run/pelk) is
// made when missing and, when pelkd owns it, given the group policy's access
// on its descriptor: set-group-ID and 02750 with the group, else 0755. A lock
// beside the socket ("NAME.lock") keeps a second pelkd off it, and lets a
// socket left by a killed one be replaced. The socket's mode comes from the
// umask at bind (0660 under the group policy, 0666 without), its group from
// a set-group-ID directory or, for root, from the group taken as effective
// group for the bind.
//
// Connections are accepted here, on a thread of the listener's own, so that
// the user of each client is known (SO_PEERCRED) before the connection is
// handed to gRPC.
#ifndef PELK_TOOLS_PELKD_UNIX_LISTENER_H
#define PELK_TOOLS_PELKD_UNIX_LISTENER_H

#include <sys/types.h>

#include <string>
#include <thread>

#include <grpcpp/grpcpp.h>

#include "tools/pelkd/peer_users.h"

class UnixListener {
public:
    explicit UnixListener(PeerUsers& users) : m_users(users) {}
    ~UnixListener();
    UnixListener(const UnixListener&) = delete;
    UnixListener& operator=(const UnixListener&) = delete;

    // Makes the socket at path: "" or what is wrong and what to do.
    // runtimeDirectory: the directory is pelkd's own, made when missing.
    std::string Bind(const std::string& path, bool runtimeDirectory);
    // Accepts connections for server until Stop.
    void Serve(grpc::Server* server);
    // Stops accepting and removes the socket.
    void Stop();

private:
    std::string OpenDirectory(const std::string& directory, bool runtimeDirectory);
    std::string TakeLock(const std::string& path);
    std::string BindSocket(const std::string& path);
    void Accept(grpc::Server* server);

    PeerUsers& m_users;
    int m_dir_fd = -1;
    int m_lock_fd = -1;
    int m_listen_fd = -1;
    int m_stop_fd = -1;
    std::string m_name;  // the socket's name in its directory
    dev_t m_device = 0;  // the socket file made, removed only while it is still there
    ino_t m_inode = 0;
    std::thread m_acceptor;
};

#endif

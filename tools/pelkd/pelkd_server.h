// pelkd's gRPC server: the Version, Table and Board services with gRPC's
// health service and server reflection, on the Unix sockets and TCP ports
// asked for.
#ifndef PELK_TOOLS_PELKD_PELKD_SERVER_H
#define PELK_TOOLS_PELKD_PELKD_SERVER_H

#include <memory>
#include <string>
#include <vector>

#include <grpcpp/grpcpp.h>

#include "tools/pelkd/board_service.h"
#include "tools/pelkd/listen_address.h"
#include "tools/pelkd/peer_users.h"
#include "tools/pelkd/session_limits.h"
#include "tools/pelkd/table_service.h"
#include "tools/pelkd/unix_listener.h"
#include "tools/pelkd/version_service.h"

struct PelkdSettings {
    std::vector<ListenAddress> listen;
    bool runtimeSocket = false;  // listen[0] is the default socket in the runtime directory
    std::string tlsCert, tlsKey, tlsClientCa;  // PEM files; all or none
    bool insecureLoopback = false;
    unsigned int clientSessions = 64;
    unsigned int sessions = 1024;
    bool verbose = false;
};

class PelkdServer {
public:
    explicit PelkdServer(const PelkdSettings& settings);
    ~PelkdServer();

    // Listens and serves: "" or what is wrong and what to do.
    std::string Start();
    // Where it listens, TCP ports as chosen: "tcp:127.0.0.1:40123 (TLS)".
    const std::vector<std::string>& Listening() const { return m_listening; }
    // Ends every session (within 2 s) and removes the sockets.
    void Stop();

private:
    std::string AddTcp(grpc::ServerBuilder& builder, const ListenAddress& address, int* chosenPort);

    const PelkdSettings m_settings;
    PeerUsers m_users;
    SessionLimits m_limits;
    VersionService m_version;
    TableService m_table;
    BoardService m_board;
    std::vector<std::unique_ptr<UnixListener>> m_unix;
    std::unique_ptr<grpc::Server> m_server;
    std::vector<std::string> m_listening;
};

#endif

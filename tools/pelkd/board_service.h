// pelkd's Board service: one BoardSession per stream, within the session
// limits of the client it comes from.
#ifndef PELK_TOOLS_PELKD_BOARD_SERVICE_H
#define PELK_TOOLS_PELKD_BOARD_SERVICE_H

#include <string>

#include "protocol/pelk_protocol.h"
#include "tools/pelkd/peer_users.h"
#include "tools/pelkd/session_limits.h"

class BoardService final : public pelk::v1::Board::Service {
public:
    BoardService(const PeerUsers& users, SessionLimits& limits, bool verbose)
        : m_users(users), m_limits(limits), m_verbose(verbose) {}

    grpc::Status Session(grpc::ServerContext* context,
                         grpc::ServerReaderWriter<pelk::v1::SessionEvent,
                                                  pelk::v1::SessionRequest>* stream) override;

private:
    // Who a call comes from, as its limits count it: "uid 1000" on a Unix
    // socket, "certificate CN=..." over TLS, "address 127.0.0.1" otherwise.
    std::string ClientOf(const grpc::ServerContext& context) const;

    const PeerUsers& m_users;
    SessionLimits& m_limits;
    const bool m_verbose;
};

#endif

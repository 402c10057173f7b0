// pelkd's Board service: one BoardSession per stream, within the session
// limits of the client it comes from. Its one method, pelk.v1.Board/Session,
// takes the stream's messages as bytes, so that a request that is no
// pelk.v1.SessionRequest is refused with a status of its own (gRPC's
// generated service would end such a stream as if the client had).
#ifndef PELK_TOOLS_PELKD_BOARD_SERVICE_H
#define PELK_TOOLS_PELKD_BOARD_SERVICE_H

#include <string>

#include "protocol/pelk_protocol.h"
#include "tools/pelkd/peer_users.h"
#include "tools/pelkd/session_limits.h"

class BoardService final : public grpc::Service {
public:
    BoardService(const PeerUsers& users, SessionLimits& limits, bool verbose);

    grpc::Status Session(grpc::ServerContext* context,
                         grpc::ServerReaderWriter<grpc::ByteBuffer, grpc::ByteBuffer>* stream);

private:
    // Who a call comes from, as its limits count it: "uid 1000" on a Unix
    // socket, "certificate CN=..." over TLS, "address 127.0.0.1" otherwise.
    std::string ClientOf(const grpc::ServerContext& context) const;

    const PeerUsers& m_users;
    SessionLimits& m_limits;
    const bool m_verbose;
};

#endif

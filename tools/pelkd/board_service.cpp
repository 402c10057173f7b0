#include "tools/pelkd/board_service.h"

#include <grpc/grpc_security_constants.h>

#include "tools/pelkd/board_session.h"
#include "tools/pelkd/version_service.h"

namespace {

// "ipv4:127.0.0.1:5555" without its port.
std::string AddressOf(const std::string& peer) {
    const size_t colon = peer.rfind(':');
    const size_t kind = peer.find(':');
    return colon == std::string::npos || colon == kind ? peer
                                                       : peer.substr(kind + 1, colon - kind - 1);
}

}  // namespace

BoardService::BoardService(const PeerUsers& users, SessionLimits& limits, bool verbose)
    : m_users(users), m_limits(limits), m_verbose(verbose) {
    using Stream = grpc::ServerReaderWriter<grpc::ByteBuffer, grpc::ByteBuffer>;
    AddMethod(new grpc::internal::RpcServiceMethod(
        "/pelk.v1.Board/Session", grpc::internal::RpcMethod::BIDI_STREAMING,
        new grpc::internal::BidiStreamingHandler<BoardService, grpc::ByteBuffer, grpc::ByteBuffer>(
            [](BoardService* service, grpc::ServerContext* context, Stream* stream) {
                return service->Session(context, stream);
            },
            this)));
}

std::string BoardService::ClientOf(const grpc::ServerContext& context) const {
    const std::string peer = context.peer();
    const std::string user = m_users.ClientOf(peer);
    if (!user.empty()) {
        return user;
    }
    const auto auth = context.auth_context();
    if (auth != nullptr && auth->IsPeerAuthenticated()) {
        for (const char* property : {GRPC_X509_SUBJECT_PROPERTY_NAME, GRPC_X509_CN_PROPERTY_NAME}) {
            const auto values = auth->FindPropertyValues(property);
            if (!values.empty()) {
                return "certificate " + std::string(values.front().data(), values.front().size());
            }
        }
    }
    return "address " + AddressOf(peer);
}

grpc::Status BoardService::Session(
    grpc::ServerContext* context,
    grpc::ServerReaderWriter<grpc::ByteBuffer, grpc::ByteBuffer>* stream) {
    const grpc::Status named = CheckProtocol(*context);
    if (!named.ok()) {
        return named;
    }
    const std::string client = ClientOf(*context);
    std::string refusal;
    if (!m_limits.Admit(client, &refusal)) {
        return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, refusal);
    }
    grpc::Status status;
    {
        BoardSession session(stream, client, m_verbose);
        status = session.Run();
    }
    m_limits.Release(client);
    return status;
}

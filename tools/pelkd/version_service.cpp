#include "tools/pelkd/version_service.h"

#include <string>

namespace {

grpc::Status Mismatch(const std::string& client) {
    return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION,
                        "the client speaks pelk protocol " + client + ", pelkd " +
                            PELK_VERSION_TEXT + " speaks protocol " + kProtocolValue +
                            ": use a library and a pelkd of the same protocol");
}

}  // namespace

grpc::Status CheckProtocol(const grpc::ServerContext& context) {
    const auto& metadata = context.client_metadata();
    const auto named = metadata.find(kProtocolKey);
    if (named == metadata.end()) {
        return grpc::Status::OK;
    }
    const std::string client(named->second.data(), std::min<size_t>(named->second.size(), 32));
    return client == kProtocolValue ? grpc::Status::OK : Mismatch(client);
}

grpc::Status VersionService::Exchange(grpc::ServerContext* context,
                                      const pelk::v1::VersionRequest* request,
                                      pelk::v1::VersionReply* reply) {
    if (request->protocol() != kProtocolVersion) {
        return Mismatch(std::to_string(request->protocol()) + " (library " +
                        request->library().substr(0, 32) + ")");
    }
    const grpc::Status named = CheckProtocol(*context);
    if (!named.ok()) {
        return named;
    }
    reply->set_protocol(kProtocolVersion);
    reply->set_pelkd(PELK_VERSION_TEXT);
    return grpc::Status::OK;
}

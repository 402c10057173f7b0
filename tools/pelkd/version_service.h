// pelkd's Version service, and the check of the protocol every call names.
#ifndef PELK_TOOLS_PELKD_VERSION_SERVICE_H
#define PELK_TOOLS_PELKD_VERSION_SERVICE_H

#include "protocol/pelk_protocol.h"

// OK for a call that names this protocol in its metadata, or none (standard
// gRPC tools); FAILED_PRECONDITION naming both protocols otherwise.
grpc::Status CheckProtocol(const grpc::ServerContext& context);

class VersionService final : public pelk::v1::Version::Service {
public:
    grpc::Status Exchange(grpc::ServerContext* context, const pelk::v1::VersionRequest* request,
                          pelk::v1::VersionReply* reply) override;
};

#endif

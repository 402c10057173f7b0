// pelkd's Table service: this host's board-identity table, read through the
// library as a local caller would, one call at a time.
#ifndef PELK_TOOLS_PELKD_TABLE_SERVICE_H
#define PELK_TOOLS_PELKD_TABLE_SERVICE_H

#include <mutex>

#include "protocol/pelk_protocol.h"

class TableService final : public pelk::v1::Table::Service {
public:
    grpc::Status CopyTable(grpc::ServerContext* context, const pelk::v1::CopyTableRequest* request,
                           pelk::v1::CopyTableReply* reply) override;
    grpc::Status Resolve(grpc::ServerContext* context, const pelk::v1::ResolveRequest* request,
                         pelk::v1::ResolveReply* reply) override;

private:
    // The process attaches to the table for each call and detaches after:
    // calls take turns so that none detaches under another.
    std::mutex m_turn;
};

#endif

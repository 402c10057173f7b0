#include "tools/pelkd/table_service.h"

#include <pelklib.h>

#include <vector>

#include "tools/pelkd/version_service.h"

namespace {

// The table's boards, in one copy that existed: asked for its size first,
// and copied again should it grow in between.
int CopyAttachedTable(pelk::v1::CopyTableReply* reply) {
    constexpr int kMostBoards = 4096;
    std::vector<OAMSHADOW_BOARD> boards;
    int count = 0;
    bool qm = false;
    int status;
    do {
        boards.resize(static_cast<size_t>(count));
        status = oamShadowCopyTable(0, boards.data(), count, &count, &qm);
    } while (status == OAMSHADOW_ERR_UNAVAILABLE && count > static_cast<int>(boards.size()) &&
             count <= kMostBoards);
    if (status != 0) {
        return status;
    }
    for (int i = 0; i < count; ++i) {
        pelk::v1::TableBoard* copy = reply->add_boards();
        copy->set_name(boards[i].name);
        copy->set_number(boards[i].number);
        copy->set_driver_name(boards[i].driverName);
        copy->set_driver_board_id(boards[i].driverBoardID);
        copy->set_a_law(boards[i].isUsingALaw);
    }
    reply->set_qm_plugin(qm);
    return 0;
}

}  // namespace

grpc::Status TableService::CopyTable(grpc::ServerContext* context,
                                     const pelk::v1::CopyTableRequest*,
                                     pelk::v1::CopyTableReply* reply) {
    const grpc::Status named = CheckProtocol(*context);
    if (!named.ok()) {
        return named;
    }
    std::lock_guard<std::mutex> turn(m_turn);
    int status = oamShadowInit();
    if (status == 0) {
        status = CopyAttachedTable(reply);
        oamShadowExit();
    }
    reply->set_status(status);
    return grpc::Status::OK;
}

grpc::Status TableService::Resolve(grpc::ServerContext* context,
                                   const pelk::v1::ResolveRequest* request,
                                   pelk::v1::ResolveReply* reply) {
    const grpc::Status named = CheckProtocol(*context);
    if (!named.ok()) {
        return named;
    }
    std::lock_guard<std::mutex> turn(m_turn);
    PELKLIB_DRIVER_TYPE type = PELKLIB_DRIVER_QM;
    unsigned int id = 0;
    PelklibAttachOAM();
    const int status = PelklibGetBoardDriver(request->board(), &type, &id);
    PelklibDetachOAM();
    reply->set_status(status);
    if (status == PKERR_OK) {
        reply->set_driver_type(type);
        reply->set_board_id(id);
    }
    return grpc::Status::OK;
}

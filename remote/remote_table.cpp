#include "remote/remote_table.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "protocol/pelk_protocol.h"
#include "remote/connection.h"
#include "services/pelk_log.h"

namespace {

// Copies text into a field of size bytes, cut to fit and terminated.
template <size_t size>
void CopyText(char (&field)[size], const std::string& text) {
    const size_t length = strnlen(text.c_str(), std::min(text.size(), size - 1));
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// Connects and runs one table call; false (reported under operation) when
// pelkd cannot be reached or the call fails.
template <typename Request, typename Reply, typename Method>
bool AskTable(const char* operation, const char* target, const Request& request, Reply* reply,
              Method method) {
    Connection connection;
    std::string problem;
    if (Connect(target, &connection, &problem)) {
        grpc::ClientContext context;
        PrepareCall(&context, kCallMs);
        auto stub = pelk::v1::Table::NewStub(connection.channel);
        const grpc::Status status = ((*stub).*method)(&context, request, reply);
        if (status.ok()) {
            return true;
        }
        problem = DescribeFailure(status, connection.target);
    }
    PelkLog("%s: %s\n", operation, problem.c_str());
    return false;
}

}  // namespace

int RemoteCopyTable(const char* target, OAMSHADOW_BOARD* boards, int capacity, int* count,
                    bool* isUsingQmPlugin) {
    pelk::v1::CopyTableReply reply;
    if (!AskTable("PelklibRemoteCopyTable", target, pelk::v1::CopyTableRequest(), &reply,
                  &pelk::v1::Table::Stub::CopyTable)) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    if (reply.status() != 0) {
        return reply.status();
    }
    *count = reply.boards_size();
    if (reply.boards_size() > capacity) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    for (int i = 0; i < reply.boards_size(); ++i) {
        const pelk::v1::TableBoard& board = reply.boards(i);
        CopyText(boards[i].name, board.name());
        boards[i].number = board.number();
        CopyText(boards[i].driverName, board.driver_name());
        CopyText(boards[i].driverBoardID, board.driver_board_id());
        boards[i].isUsingALaw = board.a_law();
    }
    if (isUsingQmPlugin != nullptr) {
        *isUsingQmPlugin = reply.qm_plugin();
    }
    return 0;
}

int RemoteGetBoardDriver(const char* target, unsigned int board, PELKLIB_DRIVER_TYPE* type,
                         unsigned int* id) {
    pelk::v1::ResolveRequest request;
    request.set_board(board);
    pelk::v1::ResolveReply reply;
    if (!AskTable("PelklibRemoteGetBoardDriver", target, request, &reply,
                  &pelk::v1::Table::Stub::Resolve)) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    if (reply.status() == PKERR_OK) {
        *type = static_cast<PELKLIB_DRIVER_TYPE>(reply.driver_type());
        if (id != nullptr) {
            *id = reply.board_id();
        }
    }
    return reply.status();
}

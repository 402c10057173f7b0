// cPelkLib_Remote: board control and information, each one request to
// pelkd's object. A count the operation may store goes to pelkd with the
// caller's value and comes back as the operation left it; bytes for the
// caller's areas come back on success only, never more than the area holds.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "protocol/pelk_protocol.h"
#include "remote/connection.h"
#include "remote/pelklib_remote.h"
#include "services/pelk_log.h"

namespace {

// An area pelkd fills for the caller holds at most this much.
bool AreaFits(const char* operation, uint64_t size) {
    if (size <= kMaxMessageData) {
        return true;
    }
    PelkLog("%s: an area of %llu bytes is more than the %u a remote object fills\n", operation,
            static_cast<unsigned long long>(size), kMaxMessageData);
    return false;
}

void CopyDelivered(const pelk::v1::Reply& reply, void* area, size_t size) {
    const size_t length = std::min(reply.data().size(), size);
    if (reply.status() == PKERR_OK && length > 0) {
        std::memcpy(area, reply.data().data(), length);
    }
}

}  // namespace

int cPelkLib_Remote::ReadEEPROM(unsigned int board, unsigned int offset, unsigned int length,
                                void* buffer, unsigned int* bytesRead) {
    if (!AreaFits("ReadEEPROM", length)) {
        return PKERR_NO_MEMORY;
    }
    pelk::v1::SessionRequest request;
    pelk::v1::ReadEeprom* call = request.mutable_read_eeprom();
    call->set_board(board);
    call->set_offset(offset);
    call->set_length(length);
    call->set_bytes_read(*bytesRead);
    pelk::v1::Reply reply;
    if (!Perform("ReadEEPROM", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    *bytesRead = reply.count();
    CopyDelivered(reply, buffer, length);
    return reply.status();
}

int cPelkLib_Remote::ReadEEPROMbySlot(unsigned int slot1, unsigned int slot2, unsigned int offset,
                                      unsigned int length, void* buffer, unsigned int* bytesRead) {
    if (!AreaFits("ReadEEPROMbySlot", length)) {
        return PKERR_NO_MEMORY;
    }
    pelk::v1::SessionRequest request;
    pelk::v1::ReadEepromBySlot* call = request.mutable_read_eeprom_by_slot();
    call->set_slot1(slot1);
    call->set_slot2(slot2);
    call->set_offset(offset);
    call->set_length(length);
    call->set_bytes_read(*bytesRead);
    pelk::v1::Reply reply;
    if (!Perform("ReadEEPROMbySlot", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    *bytesRead = reply.count();
    CopyDelivered(reply, buffer, length);
    return reply.status();
}

int cPelkLib_Remote::GetDriverVersion(unsigned int* first, unsigned int* second) {
    pelk::v1::SessionRequest request;
    request.mutable_get_driver_version();
    pelk::v1::Reply reply;
    if (!Perform("GetDriverVersion", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    if (reply.status() == PKERR_OK && reply.first_size() == 1 && reply.second_size() == 1) {
        *first = reply.first(0);
        *second = reply.second(0);
    }
    return reply.status();
}

int cPelkLib_Remote::GetBoardMapping(unsigned int board, unsigned int size,
                                     PK_BOARD_MAPPING* mapping) {
    pelk::v1::SessionRequest request;
    pelk::v1::GetBoardMapping* call = request.mutable_get_board_mapping();
    call->set_board(board);
    call->set_size(size);
    pelk::v1::Reply reply;
    if (!Perform("GetBoardMapping", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    CopyDelivered(reply, mapping, size);
    return reply.status();
}

int cPelkLib_Remote::SetBoardData(unsigned int board, unsigned int length, void* data,
                                  unsigned int* count) {
    if (!AreaFits("SetBoardData", length)) {
        return PKERR_NO_MEMORY;
    }
    pelk::v1::SessionRequest request;
    pelk::v1::SetBoardData* call = request.mutable_set_board_data();
    call->set_board(board);
    call->set_data(data, length);
    call->set_count(*count);
    pelk::v1::Reply reply;
    if (!Perform("SetBoardData", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    *count = reply.count();
    return reply.status();
}

int cPelkLib_Remote::GetBoardData(unsigned int board, unsigned int size, void* buffer,
                                  unsigned int* count) {
    if (!AreaFits("GetBoardData", size)) {
        return PKERR_NO_MEMORY;
    }
    pelk::v1::SessionRequest request;
    pelk::v1::GetBoardData* call = request.mutable_get_board_data();
    call->set_board(board);
    call->set_size(size);
    call->set_count(*count);
    pelk::v1::Reply reply;
    if (!Perform("GetBoardData", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    *count = reply.count();
    CopyDelivered(reply, buffer, size);
    return reply.status();
}

int cPelkLib_Remote::AssertBoardReset(unsigned int board) {
    pelk::v1::SessionRequest request;
    request.mutable_assert_board_reset()->set_board(board);
    return StatusOf("AssertBoardReset", request);
}

// The call may take the board's own time-out, and kCallMs beyond it; a
// time-out without limit waits without limit here too.
int cPelkLib_Remote::LiftBoardReset(unsigned int board, unsigned int timeoutMs) {
    pelk::v1::SessionRequest request;
    pelk::v1::LiftBoardReset* call = request.mutable_lift_board_reset();
    call->set_board(board);
    call->set_timeout_ms(timeoutMs);
    const long long deadline =
        timeoutMs > INT32_MAX ? -1 : kCallMs + static_cast<long long>(timeoutMs);
    pelk::v1::Reply reply;
    return Perform("LiftBoardReset", request, deadline, &reply) ? reply.status() : PKERR_NOT_OPEN;
}

int cPelkLib_Remote::DetectBoards(unsigned int maximum, unsigned int* first, unsigned int* second,
                                  unsigned int* count) {
    if (!AreaFits("DetectBoards", static_cast<uint64_t>(maximum) * 8)) {
        return PKERR_NO_MEMORY;
    }
    pelk::v1::SessionRequest request;
    pelk::v1::DetectBoards* call = request.mutable_detect_boards();
    call->set_maximum(maximum);
    call->set_count(*count);
    pelk::v1::Reply reply;
    if (!Perform("DetectBoards", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    *count = reply.count();
    const int entries =
        std::min({reply.first_size(), reply.second_size(), static_cast<int>(maximum)});
    for (int i = 0; i < entries; ++i) {
        first[i] = reply.first(i);
        second[i] = reply.second(i);
    }
    return reply.status();
}

int cPelkLib_Remote::SetBoardNumber(unsigned int word1, unsigned int word2, unsigned int word3) {
    pelk::v1::SessionRequest request;
    pelk::v1::SetBoardNumber* call = request.mutable_set_board_number();
    call->set_word1(word1);
    call->set_word2(word2);
    call->set_word3(word3);
    return StatusOf("SetBoardNumber", request);
}

int cPelkLib_Remote::GetDriverStats(unsigned int selector1, unsigned int selector2,
                                    unsigned int size, PK_GET_DRVR_STATS* stats,
                                    unsigned int* count) {
    if (!AreaFits("GetDriverStats", size)) {
        return PKERR_NO_MEMORY;
    }
    pelk::v1::SessionRequest request;
    pelk::v1::GetDriverStats* call = request.mutable_get_driver_stats();
    call->set_selector1(selector1);
    call->set_selector2(selector2);
    call->set_size(size);
    call->set_count(*count);
    pelk::v1::Reply reply;
    if (!Perform("GetDriverStats", request, kCallMs, &reply)) {
        return PKERR_NOT_OPEN;
    }
    *count = reply.count();
    CopyDelivered(reply, stats, size);
    return reply.status();
}

int cPelkLib_Remote::ZeroDriverStats(unsigned int selector1, unsigned int selector2) {
    pelk::v1::SessionRequest request;
    pelk::v1::Selectors* call = request.mutable_zero_driver_stats();
    call->set_selector1(selector1);
    call->set_selector2(selector2);
    return StatusOf("ZeroDriverStats", request);
}

int cPelkLib_Remote::RegisterForStateNotification() {
    pelk::v1::SessionRequest request;
    request.mutable_register_for_state_notification();
    return StatusOf("RegisterForStateNotification", request);
}

int cPelkLib_Remote::IncrementBoardUseCount(unsigned int board) {
    pelk::v1::SessionRequest request;
    request.mutable_increment_board_use_count()->set_board(board);
    return StatusOf("IncrementBoardUseCount", request);
}

int cPelkLib_Remote::DecrementBoardUseCount(unsigned int board) {
    pelk::v1::SessionRequest request;
    request.mutable_decrement_board_use_count()->set_board(board);
    return StatusOf("DecrementBoardUseCount", request);
}

int cPelkLib_Remote::StartCore(unsigned int board) {
    pelk::v1::SessionRequest request;
    request.mutable_start_core()->set_board(board);
    return StatusOf("StartCore", request);
}

#include "capture/capture_lib.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/capture_file.h"
#include "wire/message_descriptor.h"
#include "wire/pelkor_header.h"

namespace {

// Data of a message above this size is recorded as lengths only.
constexpr uint64_t kMaxRecordedData = 64u << 20;

bool MessageArrived(int status) {
    return status == PKERR_OK || status == PKERR_DATA_LOST || status == PKERR_WRONG_BUFSIZE;
}

}  // namespace

cPelkLib* CaptureIfRequested(cPelkLib* backend, const char* backendName) {
    if (backend == nullptr) {
        return nullptr;
    }
    CaptureFile* file = CaptureFile::FromEnvironment();
    if (file == nullptr) {
        return backend;
    }
    return new cPelkLib_Capture(backend, backendName, *file);
}

cPelkLib_Capture::cPelkLib_Capture(cPelkLib* backend, const char* backendName, CaptureFile& file)
    : m_backend(backend), m_backend_name(backendName), m_file(file) {
    std::memset(&m_pending, 0, sizeof m_pending);
}

cPelkLib_Capture::~cPelkLib_Capture() {
    delete m_backend;
}

std::string cPelkLib_Capture::InterfaceName() const {
    // The emulator backend waits on its in-pipe, /dev/ZBHostOut%04d: the
    // digits name the pipe pair.
    const int fd = m_backend->GetWaitHandle();
    if (m_backend_name != "zbhost" || fd < 0) {
        return m_backend_name;
    }
    // std::to_string would export a symbol of the standard library's.
    char link[64], target[256];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) {
        return m_backend_name;
    }
    target[length] = '\0';
    const char* digits = target + length;
    while (digits > target && digits[-1] >= '0' && digits[-1] <= '9') --digits;
    if (*digits == '\0') {
        return m_backend_name;
    }
    char name[64];
    std::snprintf(name, sizeof name, "%s pipe %d", m_backend_name.c_str(), std::atoi(digits));
    return name;
}

// Each thread builds its blocks in a buffer of its own, kept between records.
std::string& cPelkLib_Capture::StartBlock() {
    thread_local std::string block;
    if (block.capacity() > (1u << 20)) {
        std::string().swap(block);  // a large message's room is not kept
    }
    block.assign(CaptureFile::kPacketOffset, '\0');
    return block;
}

void cPelkLib_Capture::Record(uint32_t flags, std::string& block) {
    const uint64_t now = CaptureNow();
    std::call_once(m_interface_written,
                   [this] { m_interface = m_file.AddInterface(InterfaceName()); });
    m_file.WritePacket(m_interface, now, flags, block);
}

int cPelkLib_Capture::Operation(CaptureOp op, int status, std::initializer_list<uint32_t> args,
                                std::initializer_list<BytePiece> reply) {
    std::string& block = StartBlock();
    EncodeOperation(block, op, status, args, reply);
    Record(kFlagOutbound, block);
    return status;
}

int cPelkLib_Capture::Open(unsigned int size, int* waitHandle) {
    const int status = m_backend->Open(size, waitHandle);
    return Operation(CaptureOp::Open, status, {size});
}

int cPelkLib_Capture::RecordSend(CaptureOp op, int status, const PK_SEND_INFO& info,
                                 BytePiece header, unsigned int bufCount, void** buffers,
                                 const unsigned int* lengths) {
    const PK_MSG_DESC desc =
        SendDescriptor(info, static_cast<uint32_t>(header.length), bufCount, lengths);
    const unsigned int count = desc.numbufs - 1;
    BytePiece data[4] = {};
    uint64_t total = 0;
    for (unsigned int i = 0; i < count; ++i) {
        data[i] = {lengths[i] != 0 ? buffers[i] : nullptr, lengths[i]};
        total += lengths[i];
    }
    const size_t pieces = total <= kMaxRecordedData ? count : 0;
    std::string& block = StartBlock();
    EncodeMessage(block, RecordKind::Sent, op, status, 0, desc, header, data, pieces);
    Record(kFlagOutbound, block);
    return status;
}

int cPelkLib_Capture::SendMessage(const PK_SEND_INFO* info, const void* header,
                                  unsigned int headerLen, unsigned int bufCount, void** buffers,
                                  unsigned int* lengths) {
    const int status = m_backend->SendMessage(info, header, headerLen, bufCount, buffers, lengths);
    return RecordSend(CaptureOp::SendMessage, status, *info, {header, headerLen}, bufCount, buffers,
                      lengths);
}

int cPelkLib_Capture::SendPelkorMessage(const _PELKOR_MSG_HEADER* header, unsigned int dstAddr1,
                                        unsigned int dstAddr2, unsigned int tag,
                                        unsigned int bufCount, void** buffers,
                                        unsigned int* lengths) {
    const int status =
        m_backend->SendPelkorMessage(header, dstAddr1, dstAddr2, tag, bufCount, buffers, lengths);
    const PK_SEND_INFO info = {1, 0, 0, dstAddr1, dstAddr2, tag};
    // A missing header is the backend's to refuse; it is recorded as none.
    _PELKOR_MSG_HEADER wire;
    BytePiece recorded = {nullptr, 0};
    if (header != nullptr) {
        PelkorHeaderToLittleEndian(*header, &wire);
        recorded = {&wire, sizeof wire};
    }
    return RecordSend(CaptureOp::SendPelkorMessage, status, info, recorded, bufCount, buffers,
                      lengths);
}

int cPelkLib_Capture::RecordReceive(CaptureOp op, int status, const PK_REC_INFO* info,
                                    BytePiece header) {
    if (status == PKERR_TIMEOUT) {
        return status;  // no message: a polling loop would fill the file
    }
    PK_MSG_DESC desc;
    std::memset(&desc, 0, sizeof desc);
    if (MessageArrived(status)) {
        desc = ReceivedDescriptor(*info, static_cast<uint32_t>(header.length));
    } else {
        header = {nullptr, 0};
    }
    m_pending = desc;
    std::string& block = StartBlock();
    EncodeMessage(block, RecordKind::Received, op, status, 0, desc, header, nullptr, 0);
    Record(kFlagInbound, block);
    return status;
}

int cPelkLib_Capture::ReceiveMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                                     unsigned int capacity, void* header, unsigned int* headerLen) {
    const int status = m_backend->ReceiveMessage(info, timeoutMs, capacity, header, headerLen);
    const unsigned int length = MessageArrived(status) ? std::min(*headerLen, capacity) : 0;
    return RecordReceive(CaptureOp::ReceiveMessage, status, info, {header, length});
}

int cPelkLib_Capture::ReceivePelkorMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                                           _PELKOR_MSG_HEADER* header) {
    const int status = m_backend->ReceivePelkorMessage(info, timeoutMs, header);
    _PELKOR_MSG_HEADER wire;
    if (MessageArrived(status)) {
        PelkorHeaderToLittleEndian(*header, &wire);
    }
    return RecordReceive(CaptureOp::ReceivePelkorMessage, status, info, {&wire, sizeof wire});
}

int cPelkLib_Capture::ReceiveBuffers(unsigned int* lengths, void** buffers) {
    const int status = m_backend->ReceiveBuffers(lengths, buffers);
    PK_MSG_DESC desc = m_pending;
    const uint32_t count = desc.numbufs > 1 ? desc.numbufs - 1 : 0;
    BytePiece data[4] = {};
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        desc.Buflen[1 + i] = lengths[i];
        data[i] = {lengths[i] != 0 ? buffers[i] : nullptr, lengths[i]};
        total += lengths[i];
    }
    desc.Buflen[0] = 0;
    const size_t pieces = status == 0 && total <= kMaxRecordedData ? count : 0;
    std::memset(&m_pending, 0, sizeof m_pending);
    std::string& block = StartBlock();
    EncodeMessage(block, RecordKind::Buffers, CaptureOp::ReceiveBuffers, status, 0, desc,
                  {nullptr, 0}, data, pieces);
    Record(kFlagInbound, block);
    return status;
}

int cPelkLib_Capture::FlushMessageBuffers() {
    const int status = m_backend->FlushMessageBuffers();
    PK_MSG_DESC desc = m_pending;
    uint32_t dropped = 0;
    for (uint32_t i = 1; i < desc.numbufs && i < 5; ++i) dropped += desc.Buflen[i];
    desc.Buflen[0] = 0;
    std::memset(&m_pending, 0, sizeof m_pending);
    std::string& block = StartBlock();
    EncodeMessage(block, RecordKind::Flushed, CaptureOp::FlushMessageBuffers, status, dropped, desc,
                  {nullptr, 0}, nullptr, 0);
    Record(kFlagInbound, block);
    return status;
}

int cPelkLib_Capture::ReadEEPROM(unsigned int board, unsigned int offset, unsigned int length,
                                 void* buffer, unsigned int* bytesRead) {
    const int status = m_backend->ReadEEPROM(board, offset, length, buffer, bytesRead);
    const unsigned int got = status == 0 ? std::min(*bytesRead, length) : 0;
    return Operation(CaptureOp::ReadEEPROM, status, {board, offset, length}, {{buffer, got}});
}

int cPelkLib_Capture::GetDriverVersion(unsigned int* first, unsigned int* second) {
    const int status = m_backend->GetDriverVersion(first, second);
    uint8_t reply[8];
    StoreLittleEndian32(reply, status == 0 ? *first : 0);
    StoreLittleEndian32(reply + 4, status == 0 ? *second : 0);
    return Operation(CaptureOp::GetDriverVersion, status, {},
                     {{status == 0 ? reply : nullptr, sizeof reply}});
}

int cPelkLib_Capture::GetBoardMapping(unsigned int board, unsigned int size,
                                      PK_BOARD_MAPPING* mapping) {
    const int status = m_backend->GetBoardMapping(board, size, mapping);
    const size_t got = status == 0 ? std::min<size_t>(size, sizeof *mapping) : 0;
    return Operation(CaptureOp::GetBoardMapping, status, {board, size}, {{mapping, got}});
}

int cPelkLib_Capture::SetBoardData(unsigned int board, unsigned int length, void* data,
                                   unsigned int* count) {
    const int status = m_backend->SetBoardData(board, length, data, count);
    uint8_t reply[4];
    StoreLittleEndian32(reply, status == 0 ? *count : 0);
    return Operation(CaptureOp::SetBoardData, status, {board, length},
                     {{status == 0 ? reply : nullptr, sizeof reply}});
}

int cPelkLib_Capture::GetBoardData(unsigned int board, unsigned int size, void* buffer,
                                   unsigned int* count) {
    const int status = m_backend->GetBoardData(board, size, buffer, count);
    const unsigned int got = status == 0 ? std::min(*count, size) : 0;
    return Operation(CaptureOp::GetBoardData, status, {board, size}, {{buffer, got}});
}

void cPelkLib_Capture::GetErrorText(int code, char* text, unsigned int size) {
    m_backend->GetErrorText(code, text, size);
}

int cPelkLib_Capture::AssertBoardReset(unsigned int board) {
    return Operation(CaptureOp::AssertBoardReset, m_backend->AssertBoardReset(board), {board});
}

int cPelkLib_Capture::LiftBoardReset(unsigned int board, unsigned int timeoutMs) {
    return Operation(CaptureOp::LiftBoardReset, m_backend->LiftBoardReset(board, timeoutMs),
                     {board, timeoutMs});
}

int cPelkLib_Capture::DetectBoards(unsigned int maximum, unsigned int* first, unsigned int* second,
                                   unsigned int* count) {
    const int status = m_backend->DetectBoards(maximum, first, second, count);
    const unsigned int boards = status == 0 ? std::min(*count, maximum) : 0;
    uint8_t reply[4];
    StoreLittleEndian32(reply, status == 0 ? *count : 0);
    return Operation(CaptureOp::DetectBoards, status, {maximum},
                     {{reply, sizeof reply},
                      {first, boards * sizeof *first},
                      {second, boards * sizeof *second}});
}

int cPelkLib_Capture::SetBoardNumber(unsigned int word1, unsigned int word2, unsigned int word3) {
    return Operation(CaptureOp::SetBoardNumber, m_backend->SetBoardNumber(word1, word2, word3),
                     {word1, word2, word3});
}

int cPelkLib_Capture::ReadEEPROMbySlot(unsigned int slot1, unsigned int slot2, unsigned int offset,
                                       unsigned int length, void* buffer, unsigned int* bytesRead) {
    const int status = m_backend->ReadEEPROMbySlot(slot1, slot2, offset, length, buffer, bytesRead);
    const unsigned int got = status == 0 ? std::min(*bytesRead, length) : 0;
    return Operation(CaptureOp::ReadEEPROMbySlot, status, {slot1, slot2, offset, length},
                     {{buffer, got}});
}

int cPelkLib_Capture::GetDriverStats(unsigned int selector1, unsigned int selector2,
                                     unsigned int size, PK_GET_DRVR_STATS* stats,
                                     unsigned int* count) {
    const int status = m_backend->GetDriverStats(selector1, selector2, size, stats, count);
    const size_t got = status == 0 ? std::min<size_t>({*count, size, sizeof *stats}) : 0;
    return Operation(CaptureOp::GetDriverStats, status, {selector1, selector2, size},
                     {{stats, got}});
}

int cPelkLib_Capture::ZeroDriverStats(unsigned int selector1, unsigned int selector2) {
    return Operation(CaptureOp::ZeroDriverStats, m_backend->ZeroDriverStats(selector1, selector2),
                     {selector1, selector2});
}

int cPelkLib_Capture::GetWaitHandle() {
    return m_backend->GetWaitHandle();
}

int cPelkLib_Capture::RegisterForStateNotification() {
    return Operation(CaptureOp::RegisterForStateNotification,
                     m_backend->RegisterForStateNotification(), {});
}

int cPelkLib_Capture::IncrementBoardUseCount(unsigned int board) {
    return Operation(CaptureOp::IncrementBoardUseCount, m_backend->IncrementBoardUseCount(board),
                     {board});
}

int cPelkLib_Capture::DecrementBoardUseCount(unsigned int board) {
    return Operation(CaptureOp::DecrementBoardUseCount, m_backend->DecrementBoardUseCount(board),
                     {board});
}

int cPelkLib_Capture::StartCore(unsigned int board) {
    return Operation(CaptureOp::StartCore, m_backend->StartCore(board), {board});
}

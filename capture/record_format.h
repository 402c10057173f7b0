// The layout of one capture record: the packet data of every Enhanced
// Packet Block in a capture file (docs/capture.md gives it byte by byte).
// Everything is little-endian.
#ifndef PELK_CAPTURE_RECORD_FORMAT_H
#define PELK_CAPTURE_RECORD_FORMAT_H

#include <cstddef>
#include <cstdint>

#include "wire/byte_order.h"

constexpr uint16_t kCaptureLinkType = 147;  // LINKTYPE_USER0
constexpr uint8_t kCaptureVersion = 1;

// The fixed head in front of every record.
constexpr size_t kRecordHeadLen = 16;
constexpr size_t kRecordDescLen = 48;
// Head offsets.
constexpr size_t kHeadVersion = 0;    // u8
constexpr size_t kHeadKind = 1;       // u8, RecordKind
constexpr size_t kHeadOperation = 2;  // u16, CaptureOp
constexpr size_t kHeadStatus = 4;     // i32, what the caller got
constexpr size_t kHeadFirst = 8;      // u32, see RecordKind
constexpr size_t kHeadSecond = 12;    // u32, see RecordKind

// Kinds 1 to 4 carry the 48-byte descriptor after the head, then `first`
// header bytes, then `second` data bytes. Kind 5 carries `first` argument
// words, then `second` reply bytes.
enum class RecordKind : uint8_t {
    Sent = 1,       // a message the application sent
    Received = 2,   // descriptor and header as ReceiveMessage returned them
    Buffers = 3,    // the data buffers ReceiveBuffers handed out
    Flushed = 4,    // FlushMessageBuffers: `first` is the number of bytes dropped
    Operation = 5,  // Open or a board operation
};

// The calls of cPelkLib, numbered in the order of the interface.
enum class CaptureOp : uint16_t {
    Open = 1,
    ReceiveMessage,
    ReceivePelkorMessage,
    ReceiveBuffers,
    FlushMessageBuffers,
    SendMessage,
    SendPelkorMessage,
    ReadEEPROM,
    GetDriverVersion,
    GetBoardMapping,
    SetBoardData,
    GetBoardData,
    GetErrorText,
    AssertBoardReset,
    LiftBoardReset,
    DetectBoards,
    SetBoardNumber,
    ReadEEPROMbySlot,
    GetDriverStats,
    ZeroDriverStats,
    GetWaitHandle,
    RegisterForStateNotification,
    IncrementBoardUseCount,
    DecrementBoardUseCount,
    StartCore,
};
constexpr uint16_t kLastCaptureOp = static_cast<uint16_t>(CaptureOp::StartCore);

// EPB flags: bits 0-1 carry the direction.
constexpr uint32_t kFlagInbound = 1;
constexpr uint32_t kFlagOutbound = 2;

#endif

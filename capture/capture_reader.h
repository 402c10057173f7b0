// Reads a capture file back: the objects (interfaces) and their records, in
// file order. Every length in the file is checked against what surrounds it;
// a file that is truncated, corrupt or not a capture gives an error naming
// the file offset where reading stopped, with the records before it kept.
#ifndef PELK_CAPTURE_CAPTURE_READER_H
#define PELK_CAPTURE_CAPTURE_READER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <pelklib.h>

#include "capture/record_format.h"

struct CaptureRecord {
    uint64_t offset = 0;       // file offset of its packet block
    uint32_t interface = 0;    // index into Capture::interfaces
    uint64_t timestampNs = 0;  // since the epoch
    uint32_t flags = 0;        // kFlagInbound / kFlagOutbound
    RecordKind kind = RecordKind::Sent;
    uint16_t operation = 0;  // CaptureOp
    int32_t status = 0;
    PK_MSG_DESC desc = {};  // kinds Sent to Flushed
    uint32_t dropped = 0;   // kind Flushed
    std::vector<uint8_t> header;
    std::vector<std::vector<uint8_t>> data;  // per data buffer; empty when not recorded
    std::vector<uint32_t> args;              // kind Operation
    std::vector<uint8_t> reply;              // kind Operation
};

struct Capture {
    std::vector<std::string> interfaces;  // their names
    std::vector<CaptureRecord> records;
    std::string error;  // "offset N: ..." when reading stopped early
};

// False with capture->error set when the bytes are not a whole capture.
bool ReadCapture(const uint8_t* bytes, size_t size, Capture* capture);
bool ReadCaptureFile(const std::string& path, Capture* capture);

// "SendPelkorMessage", ...; "operation N" for unknown numbers.
std::string OperationName(uint16_t operation);
// "sent", "received", "buffers", "flushed", "operation".
const char* KindName(RecordKind kind);

#endif

// Builds the packet data of one capture record (layout in record_format.h).
#ifndef PELK_CAPTURE_RECORD_ENCODING_H
#define PELK_CAPTURE_RECORD_ENCODING_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include <pelklib.h>

#include "capture/record_format.h"

struct BytePiece {
    const void* data;
    size_t length;
};

// Appends to out: head, descriptor, `header`, then each data piece (null
// pieces skipped).
void EncodeMessage(std::string& out, RecordKind kind, CaptureOp op, int status, uint32_t first,
                   const PK_MSG_DESC& desc, BytePiece header, const BytePiece* data, size_t pieces);

// Appends to out: head, the argument words, then the reply pieces.
void EncodeOperation(std::string& out, CaptureOp op, int status,
                     std::initializer_list<uint32_t> args, std::initializer_list<BytePiece> reply);

#endif

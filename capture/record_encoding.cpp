#include "capture/record_encoding.h"

#include <cstring>

namespace {

void AppendHead(std::string& out, RecordKind kind, CaptureOp op, int status, uint32_t first,
                uint32_t second) {
    uint8_t head[kRecordHeadLen];
    head[kHeadVersion] = kCaptureVersion;
    head[kHeadKind] = static_cast<uint8_t>(kind);
    head[kHeadOperation] = static_cast<uint8_t>(static_cast<uint16_t>(op) & 0xFF);
    head[kHeadOperation + 1] = static_cast<uint8_t>(static_cast<uint16_t>(op) >> 8);
    StoreLittleEndian32(head + kHeadStatus, static_cast<uint32_t>(status));
    StoreLittleEndian32(head + kHeadFirst, first);
    StoreLittleEndian32(head + kHeadSecond, second);
    out.append(reinterpret_cast<const char*>(head), sizeof head);
}

}  // namespace

void EncodeMessage(std::string& out, RecordKind kind, CaptureOp op, int status, uint32_t first,
                   const PK_MSG_DESC& desc, BytePiece header, const BytePiece* data,
                   size_t pieces) {
    size_t dataBytes = 0;
    for (size_t i = 0; i < pieces; ++i) {
        dataBytes += data[i].data != nullptr ? data[i].length : 0;
    }
    const size_t headerBytes = header.data != nullptr ? header.length : 0;
    out.reserve(out.size() + kRecordHeadLen + kRecordDescLen + headerBytes + dataBytes + 32);
    const uint32_t headField =
        kind == RecordKind::Flushed ? first : static_cast<uint32_t>(headerBytes);
    AppendHead(out, kind, op, status, headField, static_cast<uint32_t>(dataBytes));
    const uint32_t words[12] = {desc.type,      desc.srcAddr2,  desc.dstAddr2,  desc.srcAddr1,
                                desc.dstAddr1,  desc.tag,       desc.numbufs,   desc.Buflen[0],
                                desc.Buflen[1], desc.Buflen[2], desc.Buflen[3], desc.Buflen[4]};
    uint8_t encoded[kRecordDescLen];
    for (size_t i = 0; i < 12; ++i) {
        StoreLittleEndian32(encoded + 4 * i, words[i]);
    }
    out.append(reinterpret_cast<const char*>(encoded), sizeof encoded);
    if (headerBytes > 0) {
        out.append(static_cast<const char*>(header.data), headerBytes);
    }
    for (size_t i = 0; i < pieces; ++i) {
        if (data[i].data != nullptr) {
            out.append(static_cast<const char*>(data[i].data), data[i].length);
        }
    }
}

void EncodeOperation(std::string& out, CaptureOp op, int status,
                     std::initializer_list<uint32_t> args, std::initializer_list<BytePiece> reply) {
    size_t replyBytes = 0;
    for (const BytePiece& piece : reply) {
        replyBytes += piece.data != nullptr ? piece.length : 0;
    }
    AppendHead(out, RecordKind::Operation, op, status, static_cast<uint32_t>(args.size()),
               static_cast<uint32_t>(replyBytes));
    for (uint32_t word : args) {
        uint8_t encoded[4];
        StoreLittleEndian32(encoded, word);
        out.append(reinterpret_cast<const char*>(encoded), 4);
    }
    for (const BytePiece& piece : reply) {
        if (piece.data != nullptr) {
            out.append(static_cast<const char*>(piece.data), piece.length);
        }
    }
}

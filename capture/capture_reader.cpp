#include "capture/capture_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr size_t kMaxFileSize = size_t(1) << 30;
constexpr size_t kMaxArgs = 16;

const char* const kOperationNames[] = {"Open",
                                       "ReceiveMessage",
                                       "ReceivePelkorMessage",
                                       "ReceiveBuffers",
                                       "FlushMessageBuffers",
                                       "SendMessage",
                                       "SendPelkorMessage",
                                       "ReadEEPROM",
                                       "GetDriverVersion",
                                       "GetBoardMapping",
                                       "SetBoardData",
                                       "GetBoardData",
                                       "GetErrorText",
                                       "AssertBoardReset",
                                       "LiftBoardReset",
                                       "DetectBoards",
                                       "SetBoardNumber",
                                       "ReadEEPROMbySlot",
                                       "GetDriverStats",
                                       "ZeroDriverStats",
                                       "GetWaitHandle",
                                       "RegisterForStateNotification",
                                       "IncrementBoardUseCount",
                                       "DecrementBoardUseCount",
                                       "StartCore"};
static_assert(sizeof kOperationNames / sizeof *kOperationNames == kLastCaptureOp,
              "one name per operation");

struct Interface {
    uint16_t linkType;
    int resolution;  // decimal digits of a second in one timestamp unit
};

class Reader {
public:
    Reader(const uint8_t* bytes, size_t size, Capture* capture)
        : m_bytes(bytes), m_size(size), m_capture(capture) {}
    bool Run();

private:
    bool Fail(uint64_t offset, const std::string& what) {
        m_capture->error = "offset " + std::to_string(offset) + ": " + what;
        return false;
    }
    bool SectionHeader(uint64_t at, uint32_t length);
    bool InterfaceDescription(uint64_t at, uint32_t length);
    bool EnhancedPacket(uint64_t at, uint32_t length);
    // Reads the options from `at` to `end`; calls take(code, offset, length).
    template <typename Take>
    bool Options(uint64_t at, uint64_t end, Take take);
    bool Record(uint64_t at, uint32_t length, CaptureRecord* record);

    const uint8_t* m_bytes;
    size_t m_size;
    Capture* m_capture;
    bool m_in_section = false;
    std::vector<Interface> m_section;  // interfaces of the current section
    size_t m_section_base = 0;         // their first index in capture->interfaces
};

bool Reader::Run() {
    uint64_t at = 0;
    while (at < m_size) {
        if (m_size - at < 12) {
            return Fail(at, "file ends inside a block header (truncated file)");
        }
        const uint32_t type = LoadLittleEndian32(m_bytes + at);
        const uint32_t length = LoadLittleEndian32(m_bytes + at + 4);
        if (!m_in_section && type != kSectionHeaderBlock) {
            return Fail(at, "not a pcapng file (no section header block)");
        }
        if (type == kSectionHeaderBlock && m_size - at >= 12 &&
            LoadLittleEndian32(m_bytes + at + 8) != kByteOrderMagic) {
            return Fail(at + 8, "section is not little-endian pcapng (byte-order magic)");
        }
        if (length < 12 || length % 4 != 0) {
            return Fail(at + 4, "bad block length " + std::to_string(length));
        }
        if (length > m_size - at) {
            return Fail(at, "block of " + std::to_string(length) + " bytes runs past the end " +
                                "of the file (truncated file)");
        }
        if (LoadLittleEndian32(m_bytes + at + length - 4) != length) {
            return Fail(at + length - 4, "trailing block length differs from the leading one");
        }
        bool ok = true;
        if (type == kSectionHeaderBlock) {
            ok = SectionHeader(at, length);
        } else if (type == kInterfaceBlock) {
            ok = InterfaceDescription(at, length);
        } else if (type == kEnhancedPacketBlock) {
            ok = EnhancedPacket(at, length);
        }
        if (!ok) {
            return false;
        }
        at += length;
    }
    if (!m_in_section) {
        return Fail(0, "empty file");
    }
    return true;
}

bool Reader::SectionHeader(uint64_t at, uint32_t length) {
    if (length < 28) {
        return Fail(at + 4, "section header block too short");
    }
    if (LoadLittleEndian16(m_bytes + at + 12) != 1) {
        return Fail(at + 12, "unsupported pcapng major version");
    }
    m_in_section = true;
    m_section.clear();
    m_section_base = m_capture->interfaces.size();
    return true;
}

template <typename Take>
bool Reader::Options(uint64_t at, uint64_t end, Take take) {
    while (end - at >= 4) {
        const uint16_t code = LoadLittleEndian16(m_bytes + at);
        const uint16_t length = LoadLittleEndian16(m_bytes + at + 2);
        if (code == 0) {
            return true;
        }
        const uint64_t padded = (uint64_t(length) + 3) & ~uint64_t(3);
        if (padded > end - at - 4) {
            return Fail(at + 2, "option length " + std::to_string(length) + " runs past its block");
        }
        if (!take(code, at + 4, length)) {
            return false;
        }
        at += 4 + padded;
    }
    return true;
}

bool Reader::InterfaceDescription(uint64_t at, uint32_t length) {
    if (length < 20) {
        return Fail(at + 4, "interface description block too short");
    }
    Interface interface = {LoadLittleEndian16(m_bytes + at + 8), 6};
    std::string name = "interface " + std::to_string(m_capture->interfaces.size());
    const bool ok =
        Options(at + 16, at + length - 4, [&](uint16_t code, uint64_t value, uint16_t size) {
            if (code == 2) {
                name.assign(reinterpret_cast<const char*>(m_bytes + value), size);
                name = name.substr(0, name.find('\0'));
            } else if (code == 9 && size >= 1) {
                const uint8_t resolution = m_bytes[value];
                if (resolution & 0x80 || resolution > 18) {
                    return Fail(value,
                                "unsupported timestamp resolution " + std::to_string(resolution));
                }
                interface.resolution = resolution;
            }
            return true;
        });
    if (!ok) {
        return false;
    }
    m_section.push_back(interface);
    m_capture->interfaces.push_back(name);
    return true;
}

bool Reader::EnhancedPacket(uint64_t at, uint32_t length) {
    if (length < 32) {
        return Fail(at + 4, "enhanced packet block too short");
    }
    const uint32_t interface = LoadLittleEndian32(m_bytes + at + 8);
    if (interface >= m_section.size()) {
        return Fail(at + 8, "packet names interface " + std::to_string(interface) +
                                " that was not described before it");
    }
    const uint32_t captured = LoadLittleEndian32(m_bytes + at + 20);
    const uint64_t padded = (uint64_t(captured) + 3) & ~uint64_t(3);
    if (padded > length - 32u) {
        return Fail(at + 20, "packet length " + std::to_string(captured) + " runs past its block");
    }
    if (m_section[interface].linkType != kCaptureLinkType) {
        return true;  // not ours: other tools may add packets of their own
    }
    CaptureRecord record;
    record.offset = at;
    record.interface = static_cast<uint32_t>(m_section_base + interface);
    uint64_t units = uint64_t(LoadLittleEndian32(m_bytes + at + 12)) << 32 |
                     LoadLittleEndian32(m_bytes + at + 16);
    for (int digits = m_section[interface].resolution; digits < 9; ++digits) units *= 10;
    for (int digits = m_section[interface].resolution; digits > 9; --digits) units /= 10;
    record.timestampNs = units;
    const bool ok = Options(at + 28 + padded, at + length - 4,
                            [&](uint16_t code, uint64_t value, uint16_t size) {
                                if (code == 2 && size == 4) {
                                    record.flags = LoadLittleEndian32(m_bytes + value);
                                }
                                return true;
                            });
    if (!ok || !Record(at + 28, captured, &record)) {
        return false;
    }
    m_capture->records.push_back(std::move(record));
    return true;
}

bool Reader::Record(uint64_t at, uint32_t length, CaptureRecord* record) {
    const uint8_t* p = m_bytes + at;
    if (length < kRecordHeadLen) {
        return Fail(at, "record of " + std::to_string(length) + " bytes is shorter than its head");
    }
    if (p[kHeadVersion] != kCaptureVersion) {
        return Fail(at, "record version " + std::to_string(p[kHeadVersion]) + " is not supported");
    }
    const uint8_t kind = p[kHeadKind];
    if (kind < 1 || kind > 5) {
        return Fail(at + kHeadKind, "unknown record kind " + std::to_string(kind));
    }
    record->kind = static_cast<RecordKind>(kind);
    record->operation = LoadLittleEndian16(p + kHeadOperation);
    if (record->operation < 1 || record->operation > kLastCaptureOp) {
        return Fail(at + kHeadOperation, "unknown operation " + std::to_string(record->operation));
    }
    record->status = static_cast<int32_t>(LoadLittleEndian32(p + kHeadStatus));
    const uint64_t first = LoadLittleEndian32(p + kHeadFirst);
    const uint64_t second = LoadLittleEndian32(p + kHeadSecond);
    const uint64_t body = length - kRecordHeadLen;
    p += kRecordHeadLen;
    if (record->kind == RecordKind::Operation) {
        if (first > kMaxArgs || first * 4 + second != body) {
            return Fail(at + kHeadFirst, "operation record lengths do not add up to its size");
        }
        for (uint64_t i = 0; i < first; ++i) record->args.push_back(LoadLittleEndian32(p + 4 * i));
        record->reply.assign(p + 4 * first, p + body);
        return true;
    }
    const uint64_t headerBytes = record->kind == RecordKind::Flushed ? 0 : first;
    if (body < kRecordDescLen || kRecordDescLen + headerBytes + second != body) {
        return Fail(at + kHeadFirst, "message record lengths do not add up to its size");
    }
    uint32_t words[12];
    for (size_t i = 0; i < 12; ++i) words[i] = LoadLittleEndian32(p + 4 * i);
    PK_MSG_DESC& desc = record->desc;
    desc = {words[0], words[1], words[2], words[3],
            words[4], words[5], words[6], {words[7], words[8], words[9], words[10], words[11]}};
    if (desc.numbufs > 5) {
        return Fail(at + kRecordHeadLen + 24,
                    "descriptor declares " + std::to_string(desc.numbufs) + " buffers");
    }
    record->dropped = record->kind == RecordKind::Flushed ? static_cast<uint32_t>(first) : 0;
    p += kRecordDescLen;
    record->header.assign(p, p + headerBytes);
    p += headerBytes;
    if (second == 0) {
        return true;
    }
    uint64_t declared = 0;
    for (uint32_t i = 1; i < desc.numbufs; ++i) declared += desc.Buflen[i];
    if (record->kind == RecordKind::Received || declared != second) {
        return Fail(at + kHeadSecond,
                    "data bytes differ from the buffer lengths of the descriptor");
    }
    for (uint32_t i = 1; i < desc.numbufs; ++i) {
        record->data.emplace_back(p, p + desc.Buflen[i]);
        p += desc.Buflen[i];
    }
    return true;
}

}  // namespace

bool ReadCapture(const uint8_t* bytes, size_t size, Capture* capture) {
    *capture = Capture();
    return Reader(bytes, size, capture).Run();
}

bool ReadCaptureFile(const std::string& path, Capture* capture) {
    *capture = Capture();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        capture->error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && bytes.size() <= kMaxFileSize) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    std::fclose(file);
    if (bytes.size() > kMaxFileSize) {
        capture->error = path + " is larger than 1 GiB";
        return false;
    }
    return ReadCapture(bytes.data(), bytes.size(), capture);
}

std::string OperationName(uint16_t operation) {
    if (operation >= 1 && operation <= kLastCaptureOp) {
        return kOperationNames[operation - 1];
    }
    return "operation " + std::to_string(operation);
}

const char* KindName(RecordKind kind) {
    switch (kind) {
        case RecordKind::Sent: return "sent";
        case RecordKind::Received: return "received";
        case RecordKind::Buffers: return "buffers";
        case RecordKind::Flushed: return "flushed";
        case RecordKind::Operation: return "operation";
    }
    return "unknown";
}

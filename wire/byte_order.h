// Little-endian loads and stores, independent of the host's byte order:
// the one set used by everything that puts words on a wire or in a file.
#ifndef PELK_WIRE_BYTE_ORDER_H
#define PELK_WIRE_BYTE_ORDER_H

#include <cstdint>
#include <cstring>

inline uint16_t LoadLittleEndian16(const void* source) {
    uint8_t b[2];
    std::memcpy(b, source, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

inline uint32_t LoadLittleEndian32(const void* source) {
    uint8_t b[4];
    std::memcpy(b, source, 4);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

inline void StoreLittleEndian16(void* target, uint16_t value) {
    const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    std::memcpy(target, b, 2);
}

inline void StoreLittleEndian32(void* target, uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    std::memcpy(target, b, 4);
}

#endif

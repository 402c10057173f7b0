// The zb5t driver's side of the byte stream, shared by the simulated driver
// and the fuzz harness: an incoming message as the driver hands it out, and
// how much of each request's argument area the driver may fill.
#ifndef PELK_TESTS_DRIVER_STREAM_H
#define PELK_TESTS_DRIVER_STREAM_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "unix/pelklib.h"

namespace driver_stream {

inline uint32_t Word(const uint8_t* area, size_t offset) {
    uint32_t word;
    std::memcpy(&word, area + offset, sizeof word);
    return word;
}

// An incoming message: the 48-byte descriptor, then header and data bytes.
inline std::vector<uint8_t> Message(const PK_MSG_DESC& desc, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> stream(sizeof desc + body.size());
    std::memcpy(stream.data(), &desc, sizeof desc);
    std::copy(body.begin(), body.end(), stream.begin() + sizeof desc);
    return stream;
}

// Most bytes the driver places in the argument area: what the length word
// asks for, the fixed reply record, or for board data and statistics
// `callerRoom`, the caller's area (the driver is not told its size).
inline size_t ReplyRoom(unsigned long code, const uint8_t* area, size_t callerRoom) {
    switch (code) {
        case ZB5T_RECEIVE_START:
        case ZB5T_RECEIVE_PART: return Word(area, 0);
        case ZB5T_READ_EEPROM: return Word(area, 8);
        case ZB5T_READ_EEPROM_BY_SLOT: return Word(area, 12);
        case ZB5T_GET_DRIVER_VERSION: return 12;
        case ZB5T_GET_BOARD_MAPPING: return sizeof(PK_BOARD_MAPPING);
        case ZB5T_GET_BOARD_DATA:
        case ZB5T_GET_DRIVER_STATS: return callerRoom;
        case ZB5T_DETECT_BOARDS: return 64 * 8;  // the most boards a driver reports
        default: return 0;
    }
}

}  // namespace driver_stream

#endif

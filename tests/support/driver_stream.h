// The zb5t driver's side of the byte stream, shared by the simulated driver
// and the fuzz harness: an incoming message as the driver hands it out, and
// the argument area of each request as the driver reads and fills it.
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

// Length of the request block the driver reads from the argument area.
inline size_t BlockLength(unsigned long code, const uint8_t* area) {
    switch (code) {
        case ZB5T_RECEIVE_START: case ZB5T_RECEIVE_PART: case ZB5T_GET_BOARD_MAPPING:
        case ZB5T_ASSERT_BOARD_RESET: case ZB5T_LIFT_BOARD_RESET: case ZB5T_GET_BOARD_DATA:
        case ZB5T_INCREMENT_USE_COUNT: case ZB5T_DECREMENT_USE_COUNT: case ZB5T_START_CORE:
            return 4;
        case ZB5T_GET_DRIVER_STATS: case ZB5T_ZERO_DRIVER_STATS: return 8;
        case ZB5T_SET_BOARD_NUMBER: case ZB5T_GET_DRIVER_VERSION: case ZB5T_READ_EEPROM: return 12;
        case ZB5T_READ_EEPROM_BY_SLOT: return 16;
        case ZB5T_SEND: return sizeof(PK_SEND_REQUEST);
        case ZB5T_SET_BOARD_DATA: return 8 + (static_cast<size_t>(Word(area, 0)) + 3) / 4 * 4;
        default: return 0;
    }
}

// Most bytes the driver places in the argument area: what the length word
// asks for, the fixed reply record, or for board data and statistics
// `callerRoom`, the caller's area (the driver is not told its size).
inline size_t ReplyRoom(unsigned long code, const uint8_t* area, size_t callerRoom) {
    switch (code) {
        case ZB5T_RECEIVE_START: case ZB5T_RECEIVE_PART: return Word(area, 0);
        case ZB5T_READ_EEPROM: return Word(area, 8);
        case ZB5T_READ_EEPROM_BY_SLOT: return Word(area, 12);
        case ZB5T_GET_DRIVER_VERSION: return 12;
        case ZB5T_GET_BOARD_MAPPING: return sizeof(PK_BOARD_MAPPING);
        case ZB5T_GET_BOARD_DATA: case ZB5T_GET_DRIVER_STATS: return callerRoom;
        case ZB5T_DETECT_BOARDS: return 64 * 8;  // the most boards a driver reports
        default: return 0;
    }
}

}  // namespace driver_stream

#endif

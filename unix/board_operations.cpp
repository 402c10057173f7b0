// cPelkLib_Unix: board control and information, one driver request each.
#include <poll.h>
#include <cstring>
#include <new>

#include "unix/pelklib.h"

namespace {

// The driver may report at most this many boards; the detection area always
// holds at least this many entries, since the driver is not told its size.
constexpr unsigned int kMaxDetectedBoards = 64;
constexpr unsigned int kDetectionEntryLen = 8;

// Room for a reply the driver writes into an area the library provides.
constexpr unsigned int kLocalReplyArea = 4096;
static_assert(kLocalReplyArea >= sizeof(PK_GET_DRVR_STATS), "a whole record fits");

unsigned int AtMost(unsigned int value, unsigned int limit) {
    return value < limit ? value : limit;
}

}  // namespace

// The driver writes these replies without being told the caller's size. A
// caller's area smaller than `least` (the whole record the driver fills, or
// the request block, which would leave the library's own block as the
// driver's area) is replaced by a local area of kLocalReplyArea bytes that
// holds the request block as the caller's would; its first `size` bytes are
// copied back. The reply count is passed on as the driver gives it.
int cPelkLib_Unix::RequestIntoCallerArea(unsigned int code, const void* block,
                                         unsigned int blockLen, void* area, unsigned int size,
                                         unsigned int least, unsigned int* count) {
    if (size >= least) {
        return Ioctl_Unix(code, block, blockLen, area, size, count);
    }
    uint8_t local[kLocalReplyArea] = {};
    int status = Ioctl_Unix(code, block, blockLen, local, sizeof local, count);
    if (status == PKERR_OK && size > 0) {
        std::memcpy(area, local, size);
    }
    return status;
}

// Both EEPROM reads follow one rule: 0 and the count stored only when the
// request succeeded and delivered exactly `length` bytes; otherwise -1 (a
// device that is not open, a failed request, a short or long reply, also for
// length 0) with the out-argument left as it was.
int cPelkLib_Unix::ReadExactly(unsigned int code, const void* block, unsigned int blockLen,
                               void* buffer, unsigned int length, unsigned int* bytesRead) {
    unsigned int count = 0;
    int status = Ioctl_Unix(code, block, blockLen, buffer, length, &count);
    if (status != PKERR_OK || count != length) {
        return PKERR_UNKNOWN;
    }
    *bytesRead = count;
    return PKERR_OK;
}

int cPelkLib_Unix::SendBoardBlock(unsigned int code, unsigned int board) {
    const uint32_t block = board;
    return Ioctl_Unix(code, &block, sizeof block, nullptr, 0, nullptr);
}

int cPelkLib_Unix::ReadEEPROM(unsigned int board, unsigned int offset, unsigned int length,
                              void* buffer, unsigned int* bytesRead) {
    const uint32_t block[3] = {board, offset, length};
    return ReadExactly(ZB5T_READ_EEPROM, block, sizeof block, buffer, length, bytesRead);
}

int cPelkLib_Unix::GetDriverVersion(unsigned int* first, unsigned int* second) {
    uint32_t reply[3] = {sizeof reply, 0, 0};
    int status = Ioctl_Unix(ZB5T_GET_DRIVER_VERSION, nullptr, 0, reply, sizeof reply, nullptr);
    if (status == PKERR_OK) {
        *first = reply[1];
        *second = reply[2];
    }
    return status;
}

int cPelkLib_Unix::GetBoardMapping(unsigned int board, unsigned int size,
                                   PK_BOARD_MAPPING* mapping) {
    const uint32_t block = board;
    return RequestIntoCallerArea(ZB5T_GET_BOARD_MAPPING, &block, sizeof block, mapping, size,
                                 sizeof(PK_BOARD_MAPPING), nullptr);
}

// Block: data length, board number, the data, zero fill to a multiple of 4.
int cPelkLib_Unix::SetBoardData(unsigned int board, unsigned int length, void* data,
                                unsigned int* count) {
    const uint64_t blockLen = 8 + (static_cast<uint64_t>(length) + 3) / 4 * 4;
    if (blockLen > UINT32_MAX) {
        return PKERR_NO_MEMORY;
    }
    uint8_t* block = new (std::nothrow) uint8_t[blockLen];
    if (block == nullptr) {
        return PKERR_NO_MEMORY;
    }
    const uint32_t words[2] = {length, board};
    std::memcpy(block, words, sizeof words);
    if (length > 0) {
        std::memcpy(block + 8, data, length);
    }
    std::memset(block + 8 + length, 0, blockLen - 8 - length);

    unsigned int reply = 0;
    int status = Ioctl_Unix(ZB5T_SET_BOARD_DATA, block, static_cast<unsigned int>(blockLen),
                            nullptr, 0, &reply);
    *count = reply;
    delete[] block;
    return status;
}

int cPelkLib_Unix::GetBoardData(unsigned int board, unsigned int size, void* buffer,
                                unsigned int* count) {
    const uint32_t block = board;
    unsigned int reply = 0;
    int status = RequestIntoCallerArea(ZB5T_GET_BOARD_DATA, &block, sizeof block, buffer, size,
                                       sizeof block, &reply);
    *count = reply;
    return status;
}

int cPelkLib_Unix::AssertBoardReset(unsigned int board) {
    return SendBoardBlock(ZB5T_ASSERT_BOARD_RESET, board);
}

// After the release request, POLLOUT alone on the device says the board is
// ready.
int cPelkLib_Unix::LiftBoardReset(unsigned int board, unsigned int timeoutMs) {
    int status = SendBoardBlock(ZB5T_LIFT_BOARD_RESET, board);
    if (status != PKERR_OK) {
        return status;
    }
    return WaitForEvent(POLLOUT, timeoutMs) ? PKERR_OK : PKERR_TIMEOUT;
}

int cPelkLib_Unix::DetectBoards(unsigned int maximum, unsigned int* first, unsigned int* second,
                                unsigned int* count) {
    const uint64_t entries = maximum > kMaxDetectedBoards ? maximum : kMaxDetectedBoards;
    const uint64_t areaLen = entries * kDetectionEntryLen;
    if (areaLen > UINT32_MAX) {
        return PKERR_NO_MEMORY;
    }
    // Zeroed, so entries the driver counts but did not write read as 0.
    uint32_t* area = new (std::nothrow) uint32_t[entries * 2]();
    if (area == nullptr) {
        return PKERR_NO_MEMORY;
    }
    unsigned int reply = 0;
    int status = Ioctl_Unix(ZB5T_DETECT_BOARDS, nullptr, 0, area,
                            static_cast<unsigned int>(areaLen), &reply);
    if (status != PKERR_UNKNOWN) {
        const unsigned int reported = reply / kDetectionEntryLen;
        *count = reported;
        const unsigned int copied =
            AtMost(AtMost(reported, maximum), static_cast<unsigned int>(entries));
        for (unsigned int i = 0; i < copied; ++i) {
            first[i] = area[2 * i];
            second[i] = area[2 * i + 1];
        }
    }
    delete[] area;
    return status;
}

int cPelkLib_Unix::SetBoardNumber(unsigned int word1, unsigned int word2, unsigned int word3) {
    const uint32_t block[3] = {word1, word2, word3};
    return Ioctl_Unix(ZB5T_SET_BOARD_NUMBER, block, sizeof block, nullptr, 0, nullptr);
}

int cPelkLib_Unix::ReadEEPROMbySlot(unsigned int slot1, unsigned int slot2, unsigned int offset,
                                    unsigned int length, void* buffer, unsigned int* bytesRead) {
    const uint32_t block[4] = {slot1, slot2, offset, length};
    return ReadExactly(ZB5T_READ_EEPROM_BY_SLOT, block, sizeof block, buffer, length, bytesRead);
}

int cPelkLib_Unix::GetDriverStats(unsigned int selector1, unsigned int selector2, unsigned int size,
                                  PK_GET_DRVR_STATS* stats, unsigned int* count) {
    const uint32_t block[2] = {selector1, selector2};
    unsigned int reply = 0;
    int status = RequestIntoCallerArea(ZB5T_GET_DRIVER_STATS, block, sizeof block, stats, size,
                                       sizeof(PK_GET_DRVR_STATS), &reply);
    *count = reply;
    return status;
}

int cPelkLib_Unix::ZeroDriverStats(unsigned int selector1, unsigned int selector2) {
    const uint32_t block[2] = {selector1, selector2};
    return Ioctl_Unix(ZB5T_ZERO_DRIVER_STATS, block, sizeof block, nullptr, 0, nullptr);
}

int cPelkLib_Unix::RegisterForStateNotification() {
    return Ioctl_Unix(ZB5T_REGISTER_STATE_NOTIFICATION, nullptr, 0, nullptr, 0, nullptr);
}

int cPelkLib_Unix::IncrementBoardUseCount(unsigned int board) {
    return SendBoardBlock(ZB5T_INCREMENT_USE_COUNT, board);
}

int cPelkLib_Unix::DecrementBoardUseCount(unsigned int board) {
    return SendBoardBlock(ZB5T_DECREMENT_USE_COUNT, board);
}

int cPelkLib_Unix::StartCore(unsigned int board) {
    return SendBoardBlock(ZB5T_START_CORE, board);
}

// cPelkLib_Unix: the backend that reaches boards through the kernel driver
// behind /dev/zb5t, one ioctl per request and poll for arrival.
#ifndef PELK_UNIX_PELKLIB_H
#define PELK_UNIX_PELKLIB_H

#include <cstdint>
#include <memory>

#include <pelklib.h>

// Driver request codes: 0x6600 plus the command number.
enum : uint32_t {
    ZB5T_RECEIVE_START = 0x6601,
    ZB5T_RECEIVE_PART = 0x6602,
    ZB5T_DISCARD_REST = 0x6603,
    ZB5T_SEND = 0x6604,
    ZB5T_GET_BOARD_MAPPING = 0x6605,
    ZB5T_SET_BOARD_NUMBER = 0x6606,
    ZB5T_ASSERT_BOARD_RESET = 0x6608,
    ZB5T_LIFT_BOARD_RESET = 0x6609,
    ZB5T_GET_DRIVER_VERSION = 0x660A,
    ZB5T_READ_EEPROM = 0x660B,
    ZB5T_READ_EEPROM_BY_SLOT = 0x660C,
    ZB5T_SET_BOARD_DATA = 0x660D,
    ZB5T_GET_BOARD_DATA = 0x660E,
    ZB5T_DETECT_BOARDS = 0x660F,
    ZB5T_GET_DRIVER_STATS = 0x6611,
    ZB5T_ZERO_DRIVER_STATS = 0x6612,
    ZB5T_REGISTER_STATE_NOTIFICATION = 0x6614,
    ZB5T_INCREMENT_USE_COUNT = 0x6615,
    ZB5T_DECREMENT_USE_COUNT = 0x6616,
    ZB5T_START_CORE = 0x6631
};

// Block of a send request: the message block or one data buffer, by address.
struct PK_SEND_REQUEST {
    uint64_t blockAddr;
    uint64_t bufferAddr;
    uint32_t blockLen;
    uint32_t bufferLen;
};
static_assert(sizeof(PK_SEND_REQUEST) == 24, "PK_SEND_REQUEST layout");
static_assert(offsetof(PK_SEND_REQUEST, bufferAddr) == 8, "PK_SEND_REQUEST layout");
static_assert(offsetof(PK_SEND_REQUEST, blockLen) == 16, "PK_SEND_REQUEST layout");
static_assert(offsetof(PK_SEND_REQUEST, bufferLen) == 20, "PK_SEND_REQUEST layout");

constexpr const char* ZB5T_DEVICE_PATH = "/dev/zb5t";
constexpr unsigned int ZB5T_MIN_FD = 256;  // descriptors are moved to 256 or above
constexpr unsigned int ZB5T_DESC_LEN = sizeof(PK_MSG_DESC);
constexpr unsigned int ZB5T_BUSY_WAIT_MS = 50;  // pause between sends refused with EBUSY

class cPelkLib_Unix : public cPelkLib {
public:
    cPelkLib_Unix();
    ~cPelkLib_Unix() override;

    int Open(unsigned int size, int* waitHandle) override;
    int ReceiveMessage(PK_REC_INFO* info, unsigned int timeoutMs, unsigned int capacity,
                       void* header, unsigned int* headerLen) override;
    int ReceivePelkorMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                             _PELKOR_MSG_HEADER* header) override;
    int ReceiveBuffers(unsigned int* lengths, void** buffers) override;
    int FlushMessageBuffers() override;
    int SendMessage(const PK_SEND_INFO* info, const void* header, unsigned int headerLen,
                    unsigned int bufCount, void** buffers, unsigned int* lengths) override;
    int SendPelkorMessage(const _PELKOR_MSG_HEADER* header, unsigned int dstAddr1,
                          unsigned int dstAddr2, unsigned int tag, unsigned int bufCount,
                          void** buffers, unsigned int* lengths) override;
    int ReadEEPROM(unsigned int board, unsigned int offset, unsigned int length, void* buffer,
                   unsigned int* bytesRead) override;
    int GetDriverVersion(unsigned int* first, unsigned int* second) override;
    int GetBoardMapping(unsigned int board, unsigned int size, PK_BOARD_MAPPING* mapping) override;
    int SetBoardData(unsigned int board, unsigned int length, void* data,
                     unsigned int* count) override;
    int GetBoardData(unsigned int board, unsigned int size, void* buffer,
                     unsigned int* count) override;
    void GetErrorText(int code, char* text, unsigned int size) override;
    int AssertBoardReset(unsigned int board) override;
    int LiftBoardReset(unsigned int board, unsigned int timeoutMs) override;
    int DetectBoards(unsigned int maximum, unsigned int* first, unsigned int* second,
                     unsigned int* count) override;
    int SetBoardNumber(unsigned int word1, unsigned int word2, unsigned int word3) override;
    int ReadEEPROMbySlot(unsigned int slot1, unsigned int slot2, unsigned int offset,
                         unsigned int length, void* buffer, unsigned int* bytesRead) override;
    int GetDriverStats(unsigned int selector1, unsigned int selector2, unsigned int size,
                       PK_GET_DRVR_STATS* stats, unsigned int* count) override;
    int ZeroDriverStats(unsigned int selector1, unsigned int selector2) override;
    int GetWaitHandle() override;
    int RegisterForStateNotification() override;
    int IncrementBoardUseCount(unsigned int board) override;
    int DecrementBoardUseCount(unsigned int board) override;
    int StartCore(unsigned int board) override;

    // One driver request; see the .cpp for the choice of argument area.
    int Ioctl_Unix(unsigned int code, const void* in, unsigned int inLen, void* out,
                   unsigned int outLen, unsigned int* count);
    // The thread's errno, or -1 when it is 0.
    int GetError();

private:
    void ReleaseBuffers();
    // poll on the device until `events` is reported, with nothing but its
    // normal-data companion beside it; restarts after EINTR or EAGAIN with
    // the time that is left. False on time-out, failure or any other event.
    bool WaitForEvent(short events, unsigned int timeoutMs);
    int SendWithBusyRetry(const PK_SEND_REQUEST& request);
    int SendBoardBlock(unsigned int code, unsigned int board);
    int ReadExactly(unsigned int code, const void* block, unsigned int blockLen, void* buffer,
                    unsigned int length, unsigned int* bytesRead);
    int RequestIntoCallerArea(unsigned int code, const void* block, unsigned int blockLen,
                              void* area, unsigned int size, unsigned int least,
                              unsigned int* count);

    std::unique_ptr<uint8_t[]> m_rx_buf;
    std::unique_ptr<uint8_t[]> m_tx_buf;
    uint32_t m_buf_size;
    uint32_t m_rx_len;
    uint32_t m_rx_pending;
    bool m_rx_idle;
    int m_fd;
};

#endif

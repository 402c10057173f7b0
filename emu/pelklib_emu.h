// cPelkLib_Emu: the backend that reaches an emulated board through the
// board emulator runtime's named pipes under /dev.
#ifndef PELK_EMU_PELKLIB_EMU_H
#define PELK_EMU_PELKLIB_EMU_H

#include <sys/uio.h>

#include <cstdint>

#include <pelklib.h>

constexpr const char* ZBHOST_BOARD_DATA_SEGMENT = "ZBHOSTSETDATA";

class cPelkLib_Emu : public cPelkLib {
public:
    cPelkLib_Emu();
    ~cPelkLib_Emu() override;
    // The object owns its descriptors and mapping: it is not copied.
    cPelkLib_Emu(const cPelkLib_Emu&) = delete;
    cPelkLib_Emu& operator=(const cPelkLib_Emu&) = delete;

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

    // Opens the pipe pair of pipeNumber: 0 or -1.
    virtual int AttachPipes(int pipeNumber);
    // Asks the runtime's manager for a pipe number: 0 or -1.
    virtual int DeterminePipe(int* pipeNumber);
    // Waits up to timeoutMs (-1: no limit) and reads exactly size bytes in one
    // read: 0, 1 on time-out, -1, -12, -18 or an errno value.
    virtual int WaitForMessage(int timeoutMs, int size, char* buffer);

    // Reads exactly length bytes of a message already begun from the
    // in-pipe (those the object has read ahead first), a signal never
    // cutting it short: 0, -1, -12 or -18.
    int ReadBuffer(char* buffer, unsigned int length);
    // Writes length bytes to the out-pipe as one message: 0, -1, -12 or -18.
    int Write(void* buffer, unsigned int length);

    // What the object reads ahead of its caller: at most the header and
    // the first data bytes of the message being received, never a byte of
    // the message after it. So a message that has not been begun is still
    // all in the in-pipe, and a poll of the wait handle finds it readable.
    static constexpr unsigned int kReadAheadBytes = 8192;

private:
    // Writes the parts, in order, as one message: one system call unless
    // the pipe takes it in pieces; a signal may stop the message only
    // before its first byte. SIGPIPE is never raised. 0, -1, -12 or -18.
    int WriteMessage(struct iovec* parts, int count);
    // Reads the in-pipe into the object's read-ahead until it holds at
    // least `least` bytes, asking for no more than `most` in all: 0 or -1.
    int ReadAhead(uint32_t least, uint64_t most);
    // Fills the parts, in order, from the read-ahead and then the in-pipe:
    // 0, or -1 when the pipe ends or fails first.
    int ReadInto(struct iovec* parts, int count);
    // Leaves the bytes that follow a refused frame pending, to be dropped.
    void LeaveRefusedPending(const PK_MSG_DESC& desc);
    // Hands the pending data buffers to the caller, or drops them.
    int TakePendingBuffers(const unsigned int* lengths, void** buffers);
    // Reads and drops length bytes of the in-pipe.
    int DiscardPending(uint64_t length);
    // Maps the board-data segment: creates it with room for length bytes when
    // `create` is set, else attaches to the existing one.
    uint32_t MapBoardData(bool create, uint32_t length);
    // Bytes of board data the mapped segment can hold.
    uint32_t BoardDataCapacity() const;

    int InPipe;
    int OutPipe;
    bool m_pipes_inuse;
    uint32_t m_shm_handle;
    void* m_shm_addr;
    bool m_shm_owner;
    uint64_t m_pending_skip;  // bytes of a refused message, dropped first
    uint32_t m_pending_count;
    uint32_t m_pending_len[4];
    // Bytes read from the in-pipe and not yet taken: m_ahead[m_ahead_start]
    // up to m_ahead[m_ahead_end]. Only ever data of the current message.
    uint32_t m_ahead_start;
    uint32_t m_ahead_end;
    char m_ahead[kReadAheadBytes];
};

#endif

// cPelkLib_Capture: a board-access object that forwards every call to the
// backend it wraps and records the call's traffic in the capture file.
#ifndef PELK_CAPTURE_CAPTURE_LIB_H
#define PELK_CAPTURE_CAPTURE_LIB_H

#include <cstdint>
#include <mutex>
#include <string>

#include <pelklib.h>

#include "capture/record_encoding.h"

class CaptureFile;

// backend itself when PELK_CAPTURE is unset or its file cannot be opened (or
// backend is null), else a wrapper that owns it. backendName is "zb5t" or
// "zbhost".
cPelkLib* CaptureIfRequested(cPelkLib* backend, const char* backendName);

class cPelkLib_Capture : public cPelkLib {
public:
    cPelkLib_Capture(cPelkLib* backend, const char* backendName, CaptureFile& file);
    ~cPelkLib_Capture() override;
    cPelkLib_Capture(const cPelkLib_Capture&) = delete;
    cPelkLib_Capture& operator=(const cPelkLib_Capture&) = delete;

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

private:
    // The calling thread's block buffer, emptied, for the next record.
    static std::string& StartBlock();
    // Writes the record in block, preceded by this object's interface block
    // the first time.
    void Record(uint32_t flags, std::string& block);
    int Operation(CaptureOp op, int status, std::initializer_list<uint32_t> args,
                  std::initializer_list<BytePiece> reply = {});
    int RecordSend(CaptureOp op, int status, const PK_SEND_INFO& info, BytePiece header,
                   unsigned int bufCount, void** buffers, const unsigned int* lengths);
    // Records a ReceiveMessage result; `header` holds headerBytes bytes when a
    // message arrived.
    int RecordReceive(CaptureOp op, int status, const PK_REC_INFO* info, BytePiece header);
    // The name of this object's interface: "zbhost pipe 3", "zb5t".
    std::string InterfaceName() const;

    cPelkLib* m_backend;
    std::string m_backend_name;
    CaptureFile& m_file;
    std::once_flag m_interface_written;
    uint32_t m_interface = 0;
    // The descriptor of the last message received whose data buffers are
    // still to be fetched or dropped (numbufs 0: none).
    PK_MSG_DESC m_pending;
};

#endif

// cPelkLib_Remote: a board object of another host, reached through its
// pelkd over gRPC. pelkd holds the host's own object of the same driver
// type; every operation runs there and comes back with that object's
// status, so a remote object answers as a local one of its driver would.
//
// Open connects (a connection of the object's own), exchanges protocol
// versions and opens pelkd's object; until then, and once the connection has
// ended, every operation gives PKERR_NOT_OPEN (-12) and the diagnostic says
// why. Messages for the object are pushed by pelkd as they arrive and wait
// here until received, so a receive's time-out is kept on this host and a
// message that arrives after it is the next receive's. The wait handle is an
// eventfd, readable while a message waits (or once the connection has
// ended, so a waiting caller learns of it from its next receive).
#ifndef PELK_REMOTE_PELKLIB_REMOTE_H
#define PELK_REMOTE_PELKLIB_REMOTE_H

#include <sys/types.h>

#include <memory>
#include <string>

#include <pelklib.h>

namespace pelk {
namespace v1 {
class Message;
class Reply;
class SessionRequest;
}  // namespace v1
}  // namespace pelk
class SessionStream;

class cPelkLib_Remote : public cPelkLib {
public:
    // An object for the board `board` of driver type (zb5t or zbhost) on the
    // host of the pelkd at target; not connected before Open.
    cPelkLib_Remote(const char* target, PELKLIB_DRIVER_TYPE type, unsigned int board);
    ~cPelkLib_Remote() override;
    cPelkLib_Remote(const cPelkLib_Remote&) = delete;
    cPelkLib_Remote& operator=(const cPelkLib_Remote&) = delete;

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

    // "zbhost via unix:/run/pelk/pelkd.sock", the name capture gives it.
    std::string Description() const;

private:
    // Runs one request on pelkd's object within deadlineMs: true with
    // pelkd's *reply; false when the object is not open or the connection
    // fails (the cause goes to the diagnostic): the operation then gives -12.
    bool Perform(const char* operation, pelk::v1::SessionRequest& request, long long deadlineMs,
                 pelk::v1::Reply* reply);
    // The status of an operation with nothing to deliver but its status.
    int StatusOf(const char* operation, pelk::v1::SessionRequest& request);
    // Reports, once a connection, why it has ended.
    void ReportEnd(const char* operation, const std::string& reason);
    // Ends the connection, drops what it left.
    void CloseSession();
    // Whether the object follows the kernel driver's rules where the two
    // backends differ (receives out of turn give -8, headers travel
    // little-endian and may be as large as Open's size), or the emulator's.
    bool AsKernelDriver() const { return m_type == PELKLIB_DRIVER_ZB5T; }

    const std::string m_target;
    const PELKLIB_DRIVER_TYPE m_type;
    const unsigned int m_board;
    const pid_t m_pid;  // the process that made the object
    std::unique_ptr<SessionStream> m_session;
    bool m_end_reported = false;
    unsigned int m_size = 0;  // the size given to Open
    int m_wake_fd = -1;
    // The message whose data buffers are still to be fetched, or null.
    std::unique_ptr<pelk::v1::Message> m_current;
    // A receive status after which pelkd's object receives nothing more.
    int m_receive_failed = 0;
};

#endif

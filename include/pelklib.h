/* pelklib: host-side access library for zb5t telephony interface boards.
 *
 * Callers reach a board through the abstract class cPelkLib. Get an object
 * from NewPelkLibByType (or newPelkLib / NewPelkLibByBoardNumber), call Open,
 * exchange messages and run board operations, then deletePelkLib it. Every
 * operation returns a status: 0 on success, a PKERR_ code (negative), or a
 * positive operating-system error number.
 */
#ifndef PELKLIB_H
#define PELKLIB_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define PELK_API __attribute__((visibility("default")))
#else
#define PELK_API
#endif

/* ---- Status codes ---------------------------------------------------- */

enum {
    PKERR_OK = 0,
    PKERR_UNKNOWN = -1,
    PKERR_TIMEOUT = -2,
    PKERR_NO_MESSAGE = -3,
    PKERR_BAD_MESSAGE = -4,
    PKERR_WRONG_BUFSIZE = -5,
    PKERR_BUFCOUNT = -6,
    PKERR_NO_MEMORY = -7,
    PKERR_SEQUENCE_ERROR = -8,
    PKERR_ABORTED = -9,
    PKERR_DATA_LOST = -10,
    PKERR_UNEXPECTED_COMPLETION = -11,
    PKERR_NOT_OPEN = -12
};

/* Library statuses without a name of their own. */
enum {
    PKSTATUS_HEADER_TOO_LONG = -13,  /* header does not fit the send buffer */
    PKSTATUS_OAM_NOT_ATTACHED = -14, /* resolution while the table is not attached */
    PKSTATUS_UNKNOWN_DRIVER = -15,   /* table names a driver other than zb5t, qm, zbhost */
    PKSTATUS_NO_SUCH_BOARD = -16,    /* no such board, or its driver board ID is not decimal */
    PKSTATUS_NOT_PROVIDED = -17,     /* the emulator backend does not provide the operation */
    PKSTATUS_INVALID_HANDLE = -18    /* invalid pipe descriptor or semaphore identifier */
};

/* Statuses of the board-identity table lookups. */
#define OAMSHADOW_ERR_UNAVAILABLE 0x40000003
#define OAMSHADOW_ERR_NOT_FOUND 0x40000004

/* ---- Driver kinds ---------------------------------------------------- */

enum PELKLIB_DRIVER_TYPE {
    PELKLIB_DRIVER_QM = 1,
    PELKLIB_DRIVER_ZB5T = 2,
    PELKLIB_DRIVER_ZBHOST = 3
};

/* ---- Records (host byte order, no padding) ---------------------------- */

#define PK_MAX_DATA_BUFFERS 4
#define PK_MAX_HEADER_LEN 56

typedef struct {
    uint32_t type;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t dstAddr1;
    uint32_t dstAddr2;
    uint32_t tag;
} PK_SEND_INFO;

typedef struct {
    uint32_t type;
    uint32_t srcAddr1;
    uint32_t srcAddr2;
    uint32_t tag;
    uint32_t bufLen[4];
} PK_REC_INFO;

/* Message descriptor in front of every header buffer on the transport. */
typedef struct {
    uint32_t type;
    uint32_t srcAddr2;
    uint32_t dstAddr2;
    uint32_t srcAddr1;
    uint32_t dstAddr1;
    uint32_t tag;
    uint32_t numbufs; /* header buffer included: 1 to 5 */
    uint32_t Buflen[5];
} PK_MSG_DESC;

/* Protocol message header. The kernel-driver backend carries word0, word1,
 * word4, paramCount and the params in use little-endian on the wire. */
typedef struct {
    uint32_t word0;
    uint32_t word1;
    uint8_t opaque[8];
    uint32_t word4;
    uint32_t paramCount;
    uint32_t params[8];
} _PELKOR_MSG_HEADER;

typedef struct {
    uint32_t size; /* 24 */
    uint32_t word1;
    uint32_t word2;
    uint32_t word3;
    uint32_t word4;
    uint32_t word5;
} PK_BOARD_MAPPING;

/* Driver statistics: the driver defines the content; the library passes the
 * caller's record through unchanged. The first two words carry the selector. */
typedef struct {
    uint32_t selector1;
    uint32_t selector2;
    uint32_t counters[62];
} PK_GET_DRVR_STATS;

static_assert(sizeof(PK_SEND_INFO) == 24, "PK_SEND_INFO layout");
static_assert(offsetof(PK_SEND_INFO, dstAddr1) == 12, "PK_SEND_INFO layout");
static_assert(offsetof(PK_SEND_INFO, tag) == 20, "PK_SEND_INFO layout");
static_assert(sizeof(PK_REC_INFO) == 32, "PK_REC_INFO layout");
static_assert(offsetof(PK_REC_INFO, tag) == 12, "PK_REC_INFO layout");
static_assert(offsetof(PK_REC_INFO, bufLen) == 16, "PK_REC_INFO layout");
static_assert(sizeof(PK_MSG_DESC) == 48, "PK_MSG_DESC layout");
static_assert(offsetof(PK_MSG_DESC, srcAddr2) == 4, "PK_MSG_DESC layout");
static_assert(offsetof(PK_MSG_DESC, dstAddr2) == 8, "PK_MSG_DESC layout");
static_assert(offsetof(PK_MSG_DESC, srcAddr1) == 12, "PK_MSG_DESC layout");
static_assert(offsetof(PK_MSG_DESC, dstAddr1) == 16, "PK_MSG_DESC layout");
static_assert(offsetof(PK_MSG_DESC, tag) == 20, "PK_MSG_DESC layout");
static_assert(offsetof(PK_MSG_DESC, numbufs) == 24, "PK_MSG_DESC layout");
static_assert(offsetof(PK_MSG_DESC, Buflen) == 28, "PK_MSG_DESC layout");
static_assert(sizeof(_PELKOR_MSG_HEADER) == 56, "_PELKOR_MSG_HEADER layout");
static_assert(offsetof(_PELKOR_MSG_HEADER, opaque) == 8, "_PELKOR_MSG_HEADER layout");
static_assert(offsetof(_PELKOR_MSG_HEADER, word4) == 16, "_PELKOR_MSG_HEADER layout");
static_assert(offsetof(_PELKOR_MSG_HEADER, paramCount) == 20, "_PELKOR_MSG_HEADER layout");
static_assert(offsetof(_PELKOR_MSG_HEADER, params) == 24, "_PELKOR_MSG_HEADER layout");
static_assert(sizeof(PK_BOARD_MAPPING) == 24, "PK_BOARD_MAPPING layout");
static_assert(offsetof(PK_BOARD_MAPPING, word5) == 20, "PK_BOARD_MAPPING layout");
static_assert(offsetof(PK_GET_DRVR_STATS, selector2) == 4, "PK_GET_DRVR_STATS layout");
static_assert(sizeof(PK_GET_DRVR_STATS) == 256, "PK_GET_DRVR_STATS layout");

/* ---- The board-access interface ------------------------------------- */

/* Each operation returns 0 or a status (see above) unless noted. Time-outs
 * are in milliseconds; values above 2147483647 wait without limit. "board"
 * is the board's ID within its driver. The emulator backend (zbhost) answers
 * the board operations with fixed data, -1 for LiftBoardReset and -17 for
 * the statistics, state, use-count and core operations. */
class PELK_API cPelkLib {
public:
    cPelkLib() {}
    virtual ~cPelkLib() {} /* releases device or pipes; no request is sent */

    /* Makes the object ready: size is the largest header buffer (bytes) the
     * caller will exchange (at least 56 is used); *waitHandle, when not null,
     * gets the descriptor that is readable when a message waits. Kernel
     * driver: -7, or the errno of opening /dev/zb5t (2: no driver). Emulator:
     * -1 (handshake semaphore), -12 (no zbhost, or the handshake failed). */
    virtual int Open(unsigned int size, int* waitHandle) = 0;
    /* Waits up to timeoutMs for one message, copies its header buffer (up to
     * capacity bytes) and fills info; info->bufLen lists the data buffers
     * still to fetch. -2 time-out, -10 header larger than capacity (the rest
     * is lost), -4 malformed message, -8 data buffers of the last message
     * not fetched yet, -12 not open. */
    virtual int ReceiveMessage(PK_REC_INFO* info, unsigned int timeoutMs, unsigned int capacity,
                               void* header, unsigned int* headerLen) = 0;
    /* ReceiveMessage of a protocol message into its 56-byte header. */
    virtual int ReceivePelkorMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                                     _PELKOR_MSG_HEADER* header) = 0;
    /* Fetches the data buffers of the message just received into buffers,
     * lengths as in info->bufLen. -8 when none are outstanding. Over the
     * kernel driver, a data buffer that arrives shorter than its length gives
     * -4; the rest of the message is dropped. */
    virtual int ReceiveBuffers(unsigned int* lengths, void** buffers) = 0;
    /* Discards the data buffers of the current message not yet fetched. */
    virtual int FlushMessageBuffers() = 0;
    /* Sends one message: a header buffer and 0 to 4 data buffers. -6 more
     * than 4 buffers, -13 header larger than the size given to Open, -3 a
     * header length without a header, -12 not open. */
    virtual int SendMessage(const PK_SEND_INFO* info, const void* header, unsigned int headerLen,
                            unsigned int bufCount, void** buffers, unsigned int* lengths) = 0;
    /* SendMessage of a protocol message (type 1) with its 56-byte header. */
    virtual int SendPelkorMessage(const _PELKOR_MSG_HEADER* header, unsigned int dstAddr1,
                                  unsigned int dstAddr2, unsigned int tag, unsigned int bufCount,
                                  void** buffers, unsigned int* lengths) = 0;
    /* Reads length bytes of the board's EEPROM from offset into buffer. Over
     * the kernel driver (ReadEEPROMbySlot too): 0, with *bytesRead set to
     * length, only when exactly length bytes were read; -1 otherwise (device
     * not open, failed request, fewer or more bytes, also for length 0),
     * *bytesRead left as it was. */
    virtual int ReadEEPROM(unsigned int board, unsigned int offset, unsigned int length,
                           void* buffer, unsigned int* bytesRead) = 0;
    /* The driver's two version numbers. */
    virtual int GetDriverVersion(unsigned int* first, unsigned int* second) = 0;
    /* The board's mapping; size is sizeof(PK_BOARD_MAPPING). */
    virtual int GetBoardMapping(unsigned int board, unsigned int size,
                                PK_BOARD_MAPPING* mapping) = 0;
    /* Stores length bytes of board data; *count gets the bytes stored. */
    virtual int SetBoardData(unsigned int board, unsigned int length, void* data,
                             unsigned int* count) = 0;
    /* Reads the board data into buffer (size bytes); *count gets its length. */
    virtual int GetBoardData(unsigned int board, unsigned int size, void* buffer,
                             unsigned int* count) = 0;
    /* No status: writes the text of code, at most size - 1 characters and a
     * NUL (nothing for size 0). The emulator backend leaves text as it is. */
    virtual void GetErrorText(int code, char* text, unsigned int size) = 0;
    /* Holds the board in reset. */
    virtual int AssertBoardReset(unsigned int board) = 0;
    /* Releases the board from reset and waits up to timeoutMs until it is
     * ready: -2 when it is not. The emulator does not emulate it: -1. */
    virtual int LiftBoardReset(unsigned int board, unsigned int timeoutMs) = 0;
    /* Lists up to maximum boards the driver finds, two words each. */
    virtual int DetectBoards(unsigned int maximum, unsigned int* first, unsigned int* second,
                             unsigned int* count) = 0;
    /* Gives a board its number. */
    virtual int SetBoardNumber(unsigned int word1, unsigned int word2, unsigned int word3) = 0;
    /* ReadEEPROM of the board in the given slot. */
    virtual int ReadEEPROMbySlot(unsigned int slot1, unsigned int slot2, unsigned int offset,
                                 unsigned int length, void* buffer, unsigned int* bytesRead) = 0;
    /* The driver's statistics for the selectors into stats (size bytes);
     * *count gets the bytes filled. */
    virtual int GetDriverStats(unsigned int selector1, unsigned int selector2, unsigned int size,
                               PK_GET_DRVR_STATS* stats, unsigned int* count) = 0;
    /* Zeroes the driver's statistics for the selectors. */
    virtual int ZeroDriverStats(unsigned int selector1, unsigned int selector2) = 0;
    /* No status: the descriptor readable when a message waits (as Open's
     * *waitHandle); -1 before Open with the kernel driver. */
    virtual int GetWaitHandle() = 0;
    /* Asks to be told of board state changes. */
    virtual int RegisterForStateNotification() = 0;
    /* Counts one more, or one less, user of the board. */
    virtual int IncrementBoardUseCount(unsigned int board) = 0;
    virtual int DecrementBoardUseCount(unsigned int board) = 0;
    /* Starts the board's core. */
    virtual int StartCore(unsigned int board) = 0;
};

/* ---- Factories -------------------------------------------------------- */

/* A new, unopened backend for the driver type; null for PELKLIB_DRIVER_QM and
 * any value without a backend. */
PELK_API cPelkLib* NewPelkLibByType(PELKLIB_DRIVER_TYPE type);

extern "C" {
PELK_API cPelkLib* newPelkLib(void);        /* a new kernel-driver backend */
PELK_API cPelkLib* pelklibInit(void);       /* same as newPelkLib */
PELK_API void deletePelkLib(cPelkLib* lib); /* null does nothing */
}

PELK_API extern const int _lib_version; /* 1 */

/* ---- Diagnostics and version ------------------------------------------- */

extern "C" {
/* Receives one diagnostic text of the library (a line ending in a newline,
 * such as "WaitForMessage, read returned 0, ..."), on the thread that wrote
 * it, with the user pointer given at installation. */
typedef void (*pelk_log_callback)(const char* text, void* user);

/* Sends every diagnostic text to callback instead of where the environment
 * variable PELK_LOG says: stdout (the default), stderr, off, or the path of a
 * file to append to. Null goes back to PELK_LOG. Safe at any time, from any
 * thread, also before any object exists. */
PELK_API void pelkSetLogCallback(pelk_log_callback callback, void* user);

/* The library's version, such as "1.0.0". */
PELK_API const char* pelklibVersion(void);
}

/* ---- Board driver resolution ------------------------------------------ */

/* Attach the process to the board-identity table (once; later calls do
 * nothing while attached) and detach it (one detach ends any number of
 * attaches). These and the two functions below may be called from several
 * threads. */
PELK_API void PelklibAttachOAM();
PELK_API void PelklibDetachOAM();

/* Resolves a logical board number to its driver type and, when id is not
 * null, the board's ID within that driver. Returns 0, -14 (not attached),
 * -15 (unknown driver name), -16 (no such board, or its driver board ID is
 * not a whole decimal number), or OAMSHADOW_ERR_UNAVAILABLE /
 * OAMSHADOW_ERR_NOT_FOUND from the table. Stores only on success. */
PELK_API int PelklibGetBoardDriver(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id);

/* A new, unopened backend for the board's driver, or null when the board
 * cannot be resolved or its driver has no backend (qm). Attaches to the
 * table for the resolution and leaves the process detached afterwards, also
 * when it was attached before. */
PELK_API cPelkLib* NewPelkLibByBoardNumber(int board);

/* ---- Emulator handshake semaphore -------------------------------------- */

/* The host-wide semaphore that serialises the emulator's pipe handshake.
 * GetSemaphore: 0 or -1. LockSemaphore / UnlockSemaphore: 0, -1, or -18. */
PELK_API int GetSemaphore();
PELK_API int LockSemaphore();
PELK_API int UnlockSemaphore();

/* ---- Board-identity table ---------------------------------------------- */

/* The table the OAM supervisor keeps in the shared segment
 * "OAM_BoardIDsShadow". Attach with oamShadowInit before any lookup and
 * detach with oamShadowExit. Every lookup takes a reserved first argument
 * (pass 0) and returns 0, OAMSHADOW_ERR_UNAVAILABLE (no table attached, or a
 * text does not fit its buffer: size must exceed the text's length; the
 * buffer is then left as it was) or OAMSHADOW_ERR_NOT_FOUND (no such board,
 * or an index out of range). Outputs are written only on success.
 * Every function here may be called from any thread at any time: a lookup
 * runs to its end on the table it started with, also while another thread
 * detaches. The pointer from oamShadowGetPtr is valid only until the
 * process detaches. */
class CBoardIDsShadow;

/* The name of the table's shared segment (a file of /dev/shm on Linux). */
#define OAMSHADOW_SEGMENT_NAME "OAM_BoardIDsShadow"

/* One board of the table as oamShadowCopyTable delivers it; every text ends
 * with a NUL inside its field. */
typedef struct {
    char name[129];
    uint32_t number;
    char driverName[129];
    char driverBoardID[65];
    bool isUsingALaw;
} OAMSHADOW_BOARD;

extern "C" {
PELK_API int oamShadowInit(void);                /* 0, or OAMSHADOW_ERR_UNAVAILABLE when the
                                                     segment or its mutex cannot be opened */
PELK_API int oamShadowExit(void);                /* 0 */
PELK_API CBoardIDsShadow* oamShadowGetPtr(void); /* null when detached */
PELK_API int oamShadowBoardEnum(uint32_t reserved, int index, char* name, unsigned nameSize);
PELK_API int oamShadowBoardLookupByNumber(uint32_t reserved, uint32_t number, char* name,
                                          unsigned nameSize);
PELK_API int oamShadowBoardLookupByDriverIDs(uint32_t reserved, const char* driverName,
                                             const char* driverBoardID, char* name,
                                             unsigned nameSize);
PELK_API int oamShadowBoardGetNumber(uint32_t reserved, const char* name, uint32_t* number);
PELK_API int oamShadowBoardGetDriverIDs(uint32_t reserved, const char* name, char* driverName,
                                        unsigned driverNameSize, char* driverBoardID,
                                        unsigned driverBoardIDSize);
PELK_API int oamShadowBoardGetIsUsingQmPlugin(uint32_t reserved, bool* isUsing);
PELK_API int oamShadowBoardIsUsingALaw(uint32_t reserved, const char* name, bool* isUsingALaw);
/* Copies the whole table under one hold of its mutex, so the copy is a table
 * that existed: its boards in table order into boards[0 .. *count - 1], and
 * the table-wide qm plug-in flag into *isUsingQmPlugin (may be null). 0, or
 * OAMSHADOW_ERR_UNAVAILABLE when no table is attached or the table holds
 * more than capacity boards; then boards and the flag are left as they were
 * and *count is the number of boards the table held (when attached), so a
 * call with capacity 0 (boards may then be null) asks for the size. */
PELK_API int oamShadowCopyTable(uint32_t reserved, OAMSHADOW_BOARD* boards, int capacity,
                                int* count, bool* isUsingQmPlugin);
}

/* ---- Boards of another host, through its pelkd -------------------------- */

/* A target names a pelkd: "unix:PATH" for its socket on this host, or
 * "HOST:PORT" over TCP with TLS, the client showing the certificate and key
 * named by the environment variables PELK_TLS_CERT and PELK_TLS_KEY and
 * checking pelkd's against the CA of PELK_TLS_CA (to a loopback address,
 * with none of them set, plain text). With PELK_REMOTE=TARGET set,
 * NewPelkLibByType and NewPelkLibByBoardNumber make remote objects of that
 * target (board ID 0 for NewPelkLibByType).
 *
 * A remote object answers as the object of its driver on pelkd's host
 * would, with these differences: before Open and once its connection has
 * ended every operation gives -12, the cause going to the diagnostics; a
 * connection is found dead within 10 seconds; a message, a header area,
 * and any area of a board operation hold at most 16 MiB (-5 for a larger
 * message, -7 for a larger area); each operation has 30 seconds beyond its
 * own time-out. Open connects afresh each time. An open remote object runs
 * a thread of its own (see remote.md). */

/* A new, unopened object for the board of driver type type (zb5t or
 * zbhost) with ID board on the host of the pelkd at target; null for a null
 * target and for a type without a backend (as NewPelkLibByType). */
PELK_API cPelkLib* NewPelkLibRemote(const char* target, PELKLIB_DRIVER_TYPE type,
                                    unsigned int board);

/* The object for the board that pelkd's own table numbers board; null when
 * pelkd cannot be reached, the board cannot be resolved there, or its driver
 * has no backend (as NewPelkLibByBoardNumber). */
PELK_API cPelkLib* NewPelkLibRemoteByBoardNumber(const char* target, int board);

/* PelklibGetBoardDriver on pelkd's table (attached and detached around the
 * call there); OAMSHADOW_ERR_UNAVAILABLE when pelkd cannot be reached. */
PELK_API int PelklibRemoteGetBoardDriver(const char* target, unsigned int board,
                                         PELKLIB_DRIVER_TYPE* type, unsigned int* id);

extern "C" {
/* oamShadowCopyTable on pelkd's table; OAMSHADOW_ERR_UNAVAILABLE also when
 * pelkd cannot be reached. */
PELK_API int PelklibRemoteCopyTable(const char* target, OAMSHADOW_BOARD* boards, int capacity,
                                    int* count, bool* isUsingQmPlugin);
}

#endif /* PELKLIB_H */

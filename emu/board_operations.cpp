// cPelkLib_Emu: board control and information as an emulated board has
// them. Fixed answers, and board data kept in one host-wide shared-memory
// segment: a 32-bit length word, then the data bytes.
#include <cerrno>
#include <cstring>

#include "emu/pelklib_emu.h"
#include "services/pxi.h"
#include "services/statuses.h"

namespace {

constexpr unsigned int kBoardDataHeaderLen = 4;

// The emulated EEPROM: a 20-byte area at offset 0 and 84 zero bytes at 20.
struct EmulatedEepromIdentity {
    uint16_t kind;
    uint16_t word2;
    uint8_t byte4;
    uint8_t byte5;
    uint16_t variant;
    uint16_t word8;
    uint8_t byte10;
    uint8_t byte11;
    uint32_t word12;
    uint32_t word16;
};
static_assert(sizeof(EmulatedEepromIdentity) == 20, "EEPROM area layout");
static_assert(offsetof(EmulatedEepromIdentity, variant) == 6, "EEPROM area layout");
static_assert(offsetof(EmulatedEepromIdentity, word12) == 12, "EEPROM area layout");

constexpr unsigned int kEepromIdentityOffset = 0;
constexpr unsigned int kEepromSecondOffset = 20;
constexpr unsigned int kEepromSecondLen = 84;

}  // namespace

int cPelkLib_Emu::ReadEEPROM(unsigned int, unsigned int offset, unsigned int length, void* buffer,
                             unsigned int* bytesRead) {
    if (offset == kEepromIdentityOffset && length >= sizeof(EmulatedEepromIdentity)) {
        EmulatedEepromIdentity identity = {};
        identity.kind = 0x6000;
        identity.variant = 0x06FF;
        std::memcpy(buffer, &identity, sizeof identity);
        *bytesRead = sizeof identity;
    } else if (offset == kEepromSecondOffset && length >= kEepromSecondLen) {
        std::memset(buffer, 0, kEepromSecondLen);
        *bytesRead = kEepromSecondLen;
    } else {
        *bytesRead = 0;
    }
    return 0;
}

int cPelkLib_Emu::GetDriverVersion(unsigned int* first, unsigned int* second) {
    *first = 0;
    *second = 0;
    return 0;
}

int cPelkLib_Emu::GetBoardMapping(unsigned int, unsigned int, PK_BOARD_MAPPING* mapping) {
    std::memset(mapping, 0, sizeof *mapping);
    mapping->size = sizeof *mapping;
    return 0;
}

uint32_t cPelkLib_Emu::MapBoardData(bool create, uint32_t length) {
    uint32_t answer = PXI_SHMEM_EXISTS;
    if (create) {
        answer = pxiAllocShMem(ZBHOST_BOARD_DATA_SEGMENT, kBoardDataHeaderLen + length,
                               &m_shm_handle, &m_shm_addr);
        // Only the object that made the segment removes it.
        m_shm_owner = answer == 0;
    }
    if (answer == PXI_SHMEM_EXISTS) {
        answer = pxiAttachShMem(ZBHOST_BOARD_DATA_SEGMENT, &m_shm_handle, &m_shm_addr);
        // A segment made elsewhere without room for its length word is not
        // board data.
        if (answer == 0 && pxiShMemSize(m_shm_handle) < kBoardDataHeaderLen) {
            pxiDetachShMem(&m_shm_handle, &m_shm_addr);
            answer = EINVAL;
        }
    }
    if (answer != 0) {
        m_shm_addr = nullptr;
        m_shm_handle = 0;
    }
    return answer;
}

uint32_t cPelkLib_Emu::BoardDataCapacity() const {
    const uint32_t size = pxiShMemSize(m_shm_handle);
    return size < kBoardDataHeaderLen ? 0 : size - kBoardDataHeaderLen;
}

// The segment keeps the size of the call that created it. Data that does
// not fit is refused with PKERR_WRONG_BUFSIZE, and nothing is written.
int cPelkLib_Emu::SetBoardData(unsigned int, unsigned int length, void* data, unsigned int* count) {
    if (length > UINT32_MAX - kBoardDataHeaderLen) {
        return PKERR_WRONG_BUFSIZE;
    }
    if (m_shm_addr == nullptr) {
        uint32_t answer = MapBoardData(true, length);
        if (answer != 0) {
            return static_cast<int>(answer);
        }
    }
    if (length > BoardDataCapacity()) {
        return PKERR_WRONG_BUFSIZE;
    }
    char* segment = static_cast<char*>(m_shm_addr);
    const uint32_t lengthWord = length;
    std::memcpy(segment, &lengthWord, sizeof lengthWord);
    if (length > 0) {
        std::memcpy(segment + kBoardDataHeaderLen, data, length);
    }
    *count = length;
    return 0;
}

// Copies no more than the segment holds, whatever its length word says.
int cPelkLib_Emu::GetBoardData(unsigned int, unsigned int size, void* buffer, unsigned int* count) {
    if (m_shm_addr == nullptr) {
        uint32_t answer = MapBoardData(false, 0);
        if (answer != 0) {
            return static_cast<int>(answer);
        }
    }
    const char* segment = static_cast<const char*>(m_shm_addr);
    uint32_t stored = 0;
    std::memcpy(&stored, segment, sizeof stored);
    uint32_t n = stored < size ? stored : size;
    const uint32_t capacity = BoardDataCapacity();
    if (n > capacity) {
        n = capacity;
    }
    *count = n;
    if (n > 0) {
        std::memcpy(buffer, segment + kBoardDataHeaderLen, n);
    }
    return 0;
}

void cPelkLib_Emu::GetErrorText(int code, char* text, unsigned int size) {
    PelkStatusText(code, text, size);
}

int cPelkLib_Emu::AssertBoardReset(unsigned int) {
    return 0;
}

int cPelkLib_Emu::LiftBoardReset(unsigned int, unsigned int) {
    return PKERR_UNKNOWN;
}

int cPelkLib_Emu::DetectBoards(unsigned int, unsigned int*, unsigned int*, unsigned int* count) {
    *count = 0;
    return 0;
}

int cPelkLib_Emu::SetBoardNumber(unsigned int, unsigned int, unsigned int) {
    return 0;
}

int cPelkLib_Emu::ReadEEPROMbySlot(unsigned int, unsigned int, unsigned int offset,
                                   unsigned int length, void* buffer, unsigned int* bytesRead) {
    return ReadEEPROM(0, offset, length, buffer, bytesRead);
}

int cPelkLib_Emu::GetDriverStats(unsigned int, unsigned int, unsigned int, PK_GET_DRVR_STATS*,
                                 unsigned int*) {
    return PKSTATUS_NOT_PROVIDED;
}

int cPelkLib_Emu::ZeroDriverStats(unsigned int, unsigned int) {
    return PKSTATUS_NOT_PROVIDED;
}

int cPelkLib_Emu::GetWaitHandle() {
    return InPipe;
}

int cPelkLib_Emu::RegisterForStateNotification() {
    return PKSTATUS_NOT_PROVIDED;
}

int cPelkLib_Emu::IncrementBoardUseCount(unsigned int) {
    return PKSTATUS_NOT_PROVIDED;
}

int cPelkLib_Emu::DecrementBoardUseCount(unsigned int) {
    return PKSTATUS_NOT_PROVIDED;
}

int cPelkLib_Emu::StartCore(unsigned int) {
    return PKSTATUS_NOT_PROVIDED;
}

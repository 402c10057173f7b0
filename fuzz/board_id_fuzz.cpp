// Feeds board resolution any driver board ID text and driver name a table
// record can hold: each input is written as the one record of the table
// (board "b", number 5), then PelklibGetBoardDriver resolves board 5. The
// result is checked against a reference written here without strtol:
// accepted iff, after optional blanks and one sign, a non-empty run of
// decimal digits reaches the end; the value saturates at the ends of the
// 32-bit range; the driver name picks the type ignoring case.
//
// Input: 1 byte ID length (at most 64), the ID bytes, the rest the driver
// name (at most 128). Runs in the sandbox (private /dev/shm).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include <pelklib.h>

#include "fuzz/harness_support.h"

namespace {

constexpr size_t kDriverNameOffset = 136;
constexpr size_t kDriverBoardIDOffset = 265;
constexpr size_t kMaxDriverName = 128;
constexpr size_t kMaxDriverBoardID = 64;
constexpr uint32_t kBoard = 5;

uint8_t* g_segment = nullptr;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The reference: true with the delivered value for a whole decimal number.
bool ReferenceID(const char* text, uint32_t* id) {
    while (IsBlank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    if (*text < '0' || *text > '9') return false;
    unsigned __int128 magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (magnitude < (static_cast<unsigned __int128>(1) << 64)) {
            magnitude = magnitude * 10 + static_cast<unsigned>(*text - '0');
        }
    }
    if (*text != '\0') return false;
    if (negative) {
        *id = magnitude > 0x80000000u ? 0x80000000u : static_cast<uint32_t>(0 - magnitude);
    } else {
        *id = magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(magnitude);
    }
    return true;
}

bool SameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + 32) : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = shm_open("/OAM_BoardIDsShadow", O_RDWR | O_CREAT, 0600);
    Require(fd >= 0 && ftruncate(fd, kSegmentSize) == 0);
    void* address = mmap(nullptr, kSegmentSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    Require(address != MAP_FAILED);
    g_segment = static_cast<uint8_t*>(address);
    PelklibAttachOAM();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t idLength = size == 0 ? 0 : data[0] % (kMaxDriverBoardID + 1);
    if (idLength > size - (size == 0 ? 0 : 1)) idLength = size == 0 ? 0 : size - 1;
    const uint8_t* idBytes = data + (size == 0 ? 0 : 1);
    const uint8_t* nameBytes = idBytes + idLength;
    size_t nameLength = size == 0 ? 0 : size - 1 - idLength;
    if (nameLength > kMaxDriverName) nameLength = kMaxDriverName;

    // One record: count 1, the image with NUL-padded texts, flag false.
    std::memset(g_segment, 0, 4 + kRecordSize + 1);
    const int32_t count = 1;
    std::memcpy(g_segment, &count, sizeof count);
    uint8_t* record = g_segment + 4;
    record[0] = 'b';
    std::memcpy(record + 132, &kBoard, sizeof kBoard);
    std::memcpy(record + kDriverNameOffset, nameBytes, nameLength);
    std::memcpy(record + kDriverBoardIDOffset, idBytes, idLength);

    char id[kMaxDriverBoardID + 1] = {};
    std::memcpy(id, idBytes, idLength);
    char driverName[kMaxDriverName + 1] = {};
    std::memcpy(driverName, nameBytes, nameLength);

    PELKLIB_DRIVER_TYPE type = static_cast<PELKLIB_DRIVER_TYPE>(0);
    unsigned int delivered = 0xA5A5A5A5;
    const int status = PelklibGetBoardDriver(kBoard, &type, &delivered);

    uint32_t expectedID = 0;
    int expectedType = 0;
    int expected = PKSTATUS_UNKNOWN_DRIVER;
    if (std::strlen(driverName) >= 120) {
        expected = OAMSHADOW_ERR_UNAVAILABLE;  // does not fit the resolution's buffer
    } else if (!ReferenceID(id, &expectedID)) {
        expected = PKSTATUS_NO_SUCH_BOARD;
    } else {
        const char* names[] = {"zb5t", "qm", "zbhost"};
        const int types[] = {PELKLIB_DRIVER_ZB5T, PELKLIB_DRIVER_QM, PELKLIB_DRIVER_ZBHOST};
        for (int i = 0; i < 3 && expected != 0; ++i) {
            if (SameIgnoringCase(driverName, names[i])) {
                expected = 0;
                expectedType = types[i];
            }
        }
    }
    Require(status == expected);
    if (status == 0) {
        Require(type == expectedType && delivered == expectedID);
    } else {
        Require(type == 0 && delivered == 0xA5A5A5A5);
    }
    return 0;
}

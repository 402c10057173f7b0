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
#include <strings.h>

#include <pelklib.h>

#include "fuzz/board_table_segment.h"

namespace {

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
    const size_t skip = std::min<size_t>(size, 1);
    const size_t idLength = std::min<size_t>(size == 0 ? 0 : data[0] % kDriverBoardID.size,
                                             size - skip);
    const std::string idBytes(data + skip, data + skip + idLength);
    const std::string nameBytes(data + skip + idLength,
                                data + std::min(size, skip + idLength + kDriverName.size - 1));
    // One record, count 1, the qm plug-in flag false.
    std::memset(g_segment, 0, 4 + kRecordSize + 1);
    g_segment[0] = 1;
    PutRecord(g_segment + 4, {"b", kBoard, nameBytes, idBytes});
    const std::string id = idBytes.c_str(), driverName = nameBytes.c_str();

    PELKLIB_DRIVER_TYPE type = static_cast<PELKLIB_DRIVER_TYPE>(0);
    unsigned int delivered = 0xA5A5A5A5;
    const int status = PelklibGetBoardDriver(kBoard, &type, &delivered);

    uint32_t expectedID = 0;
    int expectedType = 0;
    int expected = PKSTATUS_UNKNOWN_DRIVER;
    if (!ReferenceID(id.c_str(), &expectedID)) {
        expected = PKSTATUS_NO_SUCH_BOARD;
    } else {
        const char* names[] = {"zb5t", "qm", "zbhost"};
        const int types[] = {PELKLIB_DRIVER_ZB5T, PELKLIB_DRIVER_QM, PELKLIB_DRIVER_ZBHOST};
        for (int i = 0; i < 3 && expected != 0; ++i) {
            if (strcasecmp(driverName.c_str(), names[i]) == 0) {
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

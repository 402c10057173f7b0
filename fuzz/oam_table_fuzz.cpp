// Feeds the board-identity table whatever a supervisor could leave in its
// segment: the input's first bytes become the segment "OAM_BoardIDsShadow"
// (of the input's chosen size, up to the full table, so also shorter than the
// table expects), and the rest chooses lookups of every kind and board
// resolutions with names, numbers, indices and buffer sizes. What the library
// delivers is checked against the segment as the model below reads it,
// driver board IDs against a reference parser written without strtol. Every
// caller buffer is a heap block of exactly its declared size; a lookup that
// fails leaves it as it was.
//
// Input: 2 bytes little-endian segment size, the segment's bytes (zeros past
// the input), then the choices. Runs in the sandbox (private /dev/shm).
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include <pelklib.h>

#include "fuzz/harness_support.h"
#include "services/pxi.h"

namespace {

constexpr unsigned kMaxBuffer = 200;

// The segment: a 4-byte count, then 332-byte records (name, number, driver
// name, driver board ID, A-law flag) whose texts end at their field's last
// byte at the latest.
constexpr size_t kSegmentSize = 10624, kRecordSize = 332, kNumberAt = 132;

struct Field {
    size_t at, size;
};
constexpr Field kName{0, 129}, kDriverName{136, 129}, kDriverBoardID{265, 65};

struct BoardRecord {
    std::string name;
    uint32_t number;
    std::string driverName;
    std::string driverBoardID;
};

// The field's text: up to its terminator, or its last byte without one.
std::string ReadField(const uint8_t* image, Field field) {
    const char* text = reinterpret_cast<const char*>(image + field.at);
    return std::string(text, strnlen(text, field.size - 1));
}

// The records a load takes from the segment's bytes: no more than its count
// says and its bytes hold.
std::vector<BoardRecord> ParseSegment(const std::vector<uint8_t>& segment) {
    int32_t count = 0;
    if (segment.size() >= 4) std::memcpy(&count, segment.data(), 4);
    const size_t room = segment.size() < 4 ? 0 : (segment.size() - 4) / kRecordSize;
    std::vector<BoardRecord> records(count <= 0 ? 0 : std::min<size_t>(count, room));
    for (size_t i = 0; i < records.size(); ++i) {
        const uint8_t* image = &segment[4 + i * kRecordSize];
        records[i] = {ReadField(image, kName), 0, ReadField(image, kDriverName),
                      ReadField(image, kDriverBoardID)};
        std::memcpy(&records[i].number, image + kNumberAt, 4);
    }
    return records;
}

// A fresh segment of exactly these bytes (none: an empty one the library
// sizes as it creates the table).
void WriteSegment(const std::vector<uint8_t>& segment) {
    shm_unlink("/OAM_BoardIDsShadow");
    int fd = shm_open("/OAM_BoardIDsShadow", O_RDWR | O_CREAT | O_EXCL, 0600);
    Require(fd >= 0 && ftruncate(fd, static_cast<off_t>(segment.size())) == 0);
    Require(pwrite(fd, segment.data(), segment.size(), 0) == static_cast<ssize_t>(segment.size()));
    close(fd);
}

// The reference: true with the delivered value for a whole decimal number:
// after optional blanks and one sign, a non-empty run of digits reaching the
// end; the value saturates at the ends of the 32-bit range.
bool ReferenceID(const char* text, uint32_t* id) {
    while (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) != nullptr) ++text;
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

// What resolving the record's board must give: its type and ID, or a status.
int ReferenceResolution(const BoardRecord& record, int* type, uint32_t* id) {
    if (!ReferenceID(record.driverBoardID.c_str(), id)) return PKSTATUS_NO_SUCH_BOARD;
    const char* names[] = {"zb5t", "qm", "zbhost"};
    const int types[] = {PELKLIB_DRIVER_ZB5T, PELKLIB_DRIVER_QM, PELKLIB_DRIVER_ZBHOST};
    for (int i = 0; i < 3; ++i) {
        if (strcasecmp(record.driverName.c_str(), names[i]) == 0) return *type = types[i], 0;
    }
    return PKSTATUS_UNKNOWN_DRIVER;
}

// A caller's text buffer, filled with a pattern that a failed lookup keeps.
struct Buffer {
    explicit Buffer(unsigned n) : size(n), bytes(new char[n]) { std::memset(get(), 0x5A, n); }
    char* get() const { return bytes.get(); }
    bool Untouched() const {
        return static_cast<size_t>(std::count(get(), get() + size, 0x5A)) == size;
    }
    // A lookup's status is one of three; a delivered text ends inside the
    // buffer, an undelivered one left it be.
    void RequireDelivered(int status) const {
        Require(status == 0 || status == OAMSHADOW_ERR_UNAVAILABLE ||
                status == OAMSHADOW_ERR_NOT_FOUND);
        Require(status == 0 ? std::memchr(bytes.get(), '\0', size) != nullptr : Untouched());
    }
    unsigned size;
    std::unique_ptr<char[]> bytes;
};

class OamTableFuzz {
public:
    OamTableFuzz(const std::vector<uint8_t>& segment, const uint8_t* choices, size_t size)
        : m_records(ParseSegment(segment)), m_input(choices, size) {}

    void Run() {
        CheckEnumeration();
        unsigned char qm = 0xA5;
        Require(oamShadowBoardGetIsUsingQmPlugin(0, reinterpret_cast<bool*>(&qm)) == 0 && qm <= 1);
        for (unsigned n = 0; n < 64 && m_input.remaining_bytes() > 0; ++n) {
            switch (m_input.ConsumeIntegralInRange(0, 2)) {
                case 0: Enum(); break;
                case 1: ByNumber(); break;
                default: LookupsByName(); break;
            }
        }
    }

private:
    // Every record by index, in table order, then the end; names found by
    // name and number wherever the table's order lets a search find them.
    void CheckEnumeration() {
        for (size_t i = 0; i <= m_records.size(); ++i) {
            Buffer name(kMaxBuffer);
            const int status = oamShadowBoardEnum(0, static_cast<int>(i), name.get(), name.size);
            Require(i == m_records.size() ? status == OAMSHADOW_ERR_NOT_FOUND && name.Untouched()
                                          : status == 0 && name.get() == m_records[i].name);
        }
        m_ordered = std::adjacent_find(m_records.begin(), m_records.end(),
                                       [](const BoardRecord& a, const BoardRecord& b) {
                                           return pxiStricmp(a.name.c_str(), b.name.c_str()) >= 0;
                                       }) == m_records.end();
        for (size_t i = 0; m_ordered && i < m_records.size(); ++i) {
            uint32_t number = ~m_records[i].number;
            Require(oamShadowBoardGetNumber(0, m_records[i].name.c_str(), &number) == 0);
            Require(number == m_records[i].number);
            Buffer name(kMaxBuffer);
            Require(oamShadowBoardLookupByNumber(0, number, name.get(), name.size) == 0);
        }
    }

    const BoardRecord* AnyRecord() {
        if (m_records.empty() || !m_input.ConsumeBool()) return nullptr;
        return &m_records[m_input.ConsumeIntegralInRange<size_t>(0, m_records.size() - 1)];
    }
    std::string Name() {
        const BoardRecord* record = AnyRecord();
        if (record == nullptr) return m_input.ConsumeRandomLengthString(140);
        return m_input.ConsumeBool() ? record->name : record->name + "x";
    }
    unsigned Size() {
        return m_input.ConsumeBool() ? kMaxBuffer : m_input.ConsumeIntegralInRange(0u, 140u);
    }

    void Enum() {
        Buffer name(Size());
        const int index = m_input.ConsumeIntegral<int>() % 40;
        const int status = oamShadowBoardEnum(0, index, name.get(), name.size);
        const bool exists = index >= 0 && static_cast<size_t>(index) < m_records.size();
        Require(exists == (status != OAMSHADOW_ERR_NOT_FOUND));
        if (status == 0) Require(name.get() == m_records[index].name);
        name.RequireDelivered(status);
    }

    // The name and the driver of a board by number: what the first record
    // with the number says (for the driver, in a table in name order, where
    // the search by its name finds that record); outputs set only on success.
    void ByNumber() {
        const BoardRecord* chosen = AnyRecord();
        const uint32_t number = chosen ? chosen->number : m_input.ConsumeIntegral<uint32_t>();
        const auto first =
            std::find_if(m_records.begin(), m_records.end(),
                         [number](const BoardRecord& r) { return r.number == number; });
        Buffer name(Size());
        int status = oamShadowBoardLookupByNumber(0, number, name.get(), name.size);
        name.RequireDelivered(status);
        if (first == m_records.end()) {
            Require(status == OAMSHADOW_ERR_NOT_FOUND);
        } else {
            Require(status == 0 ? name.get() == first->name : status == OAMSHADOW_ERR_UNAVAILABLE);
        }

        PELKLIB_DRIVER_TYPE type = static_cast<PELKLIB_DRIVER_TYPE>(0);
        uint32_t id = 0xA5A5A5A5, expectedID = 0;
        int expectedType = 0;
        status = PelklibGetBoardDriver(number, &type, &id);
        if (first == m_records.end()) {
            Require(status == PKSTATUS_NO_SUCH_BOARD);
        } else if (m_ordered) {
            Require(status == ReferenceResolution(*first, &expectedType, &expectedID));
        }
        if (status != 0) {
            Require(type == 0 && id == 0xA5A5A5A5);
        } else if (m_ordered) {
            Require(type == expectedType && id == expectedID);
        }
    }

    // The lookups by name and by driver IDs.
    void LookupsByName() {
        const std::string name = Name();
        uint32_t number = 0xA5A5A5A5;
        int status = oamShadowBoardGetNumber(0, name.c_str(), &number);
        Require(status == 0 || (status == OAMSHADOW_ERR_NOT_FOUND && number == 0xA5A5A5A5));
        unsigned char aLaw = 0xA5;
        status = oamShadowBoardIsUsingALaw(0, name.c_str(), reinterpret_cast<bool*>(&aLaw));
        Require(status == 0 ? aLaw <= 1 : status == OAMSHADOW_ERR_NOT_FOUND && aLaw == 0xA5);

        Buffer driverName(Size()), driverBoardID(Size());
        status = oamShadowBoardGetDriverIDs(0, name.c_str(), driverName.get(), driverName.size,
                                            driverBoardID.get(), driverBoardID.size);
        driverBoardID.RequireDelivered(status);
        // Only a board ID that did not fit leaves the driver name delivered.
        const bool nameOnly = status == OAMSHADOW_ERR_UNAVAILABLE && !driverName.Untouched();
        driverName.RequireDelivered(nameOnly ? 0 : status);
        // A board with the IDs just delivered exists.
        const bool known = status == 0;
        const std::string driver =
            known ? driverName.get() : m_input.ConsumeRandomLengthString(140);
        const std::string id = known ? driverBoardID.get() : m_input.ConsumeRandomLengthString(80);
        Buffer found(Size());
        status =
            oamShadowBoardLookupByDriverIDs(0, driver.c_str(), id.c_str(), found.get(), found.size);
        Require(!known || status != OAMSHADOW_ERR_NOT_FOUND);
        found.RequireDelivered(status);
    }

    std::vector<BoardRecord> m_records;
    bool m_ordered = false;  // names strictly ascending: every search finds its record
    FuzzedDataProvider m_input;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t header = std::min<size_t>(size, 2);
    const size_t chosen = size < 2 ? 0 : (data[0] | static_cast<size_t>(data[1]) << 8);
    std::vector<uint8_t> segment(std::min(chosen, kSegmentSize), 0);
    const size_t copied = std::min(segment.size(), size - header);
    if (copied > 0) std::memcpy(segment.data(), data + header, copied);
    WriteSegment(segment);
    Require(oamShadowInit() == 0);
    PelklibAttachOAM();
    OamTableFuzz(segment, data + header + copied, size - header - copied).Run();
    PelklibDetachOAM();
    oamShadowExit();
    return 0;
}

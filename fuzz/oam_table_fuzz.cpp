// Feeds the board-identity table whatever a supervisor could leave in its
// segment: the input's first bytes become the segment "OAM_BoardIDsShadow"
// (of the input's chosen size, up to the full 10624 bytes, so also shorter
// than the table expects), and the rest chooses lookups of every kind with
// names, numbers, indices and buffer sizes.
//
// The records the library delivers are checked against the segment as this
// harness reads it: a count, then 332-byte images whose texts end at their
// field's last byte at the latest. Every caller buffer is a heap block of
// exactly its declared size; a lookup that fails leaves it as it was.
//
// Input: 2 bytes little-endian segment size, the segment's bytes (zeros past
// the input), then the choices. Runs in the sandbox (private /dev/shm).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include <pelklib.h>

#include "fuzz/harness_support.h"

#include "services/pxi.h"

namespace {

constexpr size_t kNumberOffset = 132;
constexpr size_t kNameField = 129;
constexpr unsigned kMaxBuffer = 200;
constexpr unsigned kMaxLookups = 64;

// A caller's text buffer, filled with a pattern that a failed lookup keeps.
class Buffer {
public:
    explicit Buffer(unsigned size) : m_size(size), m_bytes(new char[size == 0 ? 1 : size]) {
        std::memset(m_bytes.get(), 0x5A, m_size);
    }
    char* get() { return m_bytes.get(); }
    unsigned size() const { return m_size; }
    // A delivered text ends inside the buffer; an undelivered one left it be.
    void RequireDelivered(int status) const {
        if (status == 0) {
            Require(m_size > 0 && std::memchr(m_bytes.get(), '\0', m_size) != nullptr);
        } else {
            Require(Untouched());
        }
    }
    bool Untouched() const {
        for (unsigned i = 0; i < m_size; ++i) {
            if (m_bytes[i] != 0x5A) return false;
        }
        return true;
    }

private:
    unsigned m_size;
    std::unique_ptr<char[]> m_bytes;
};

struct Record {
    std::string name;
    uint32_t number;
};

class OamTableFuzz {
public:
    OamTableFuzz(const uint8_t* data, size_t size)
        : m_segment(SegmentSize(data, size), 0),
          m_input(data + size - Choices(size, m_segment.size()), Choices(size, m_segment.size())) {
        const size_t copied = size < 2 ? 0 : size - 2 - Choices(size, m_segment.size());
        if (copied > 0) std::memcpy(m_segment.data(), data + 2, copied);
    }

    void Run() {
        WriteSegment();
        Require(oamShadowInit() == 0);
        ParseRecords();
        CheckEnumeration();
        for (unsigned n = 0; n < kMaxLookups && m_input.remaining_bytes() > 0; ++n) {
            switch (m_input.ConsumeIntegralInRange(0, 6)) {
                case 0: Enum(); break;
                case 1: LookupByNumber(); break;
                case 2: LookupByDriverIDs(); break;
                case 3: GetNumber(); break;
                case 4: GetDriverIDs(); break;
                case 5: IsUsingALaw(); break;
                case 6: QmPlugin(); break;
            }
        }
        oamShadowExit();
    }

private:
    static size_t SegmentSize(const uint8_t* data, size_t size) {
        const size_t chosen = size < 2 ? 0 : (data[0] | static_cast<size_t>(data[1]) << 8);
        return chosen < kSegmentSize ? chosen : kSegmentSize;
    }
    // Input bytes left for the choices after the segment's.
    static size_t Choices(size_t size, size_t segmentSize) {
        if (size < 2) return 0;
        return size - 2 > segmentSize ? size - 2 - segmentSize : 0;
    }

    // A segment of exactly the chosen size; size 0 leaves it to the library
    // to create.
    void WriteSegment() {
        shm_unlink("/OAM_BoardIDsShadow");
        int fd = shm_open("/OAM_BoardIDsShadow", O_RDWR | O_CREAT | O_EXCL, 0600);
        Require(fd >= 0);
        if (!m_segment.empty()) {
            Require(ftruncate(fd, static_cast<off_t>(m_segment.size())) == 0);
            Require(pwrite(fd, m_segment.data(), m_segment.size(), 0) ==
                    static_cast<ssize_t>(m_segment.size()));
        }
        close(fd);
    }

    // The records a load can take from the segment: no more than the count
    // says and the segment's bytes hold.
    void ParseRecords() {
        if (m_segment.empty()) return;  // created by the library: empty
        int32_t count = 0;
        if (m_segment.size() >= 4) std::memcpy(&count, m_segment.data(), 4);
        const size_t room = m_segment.size() < 4 ? 0 : (m_segment.size() - 4) / kRecordSize;
        const size_t loaded = count <= 0 ? 0 : (static_cast<size_t>(count) < room ? count : room);
        for (size_t i = 0; i < loaded; ++i) {
            const char* image = reinterpret_cast<const char*>(&m_segment[4 + i * kRecordSize]);
            Record record;
            record.name.assign(image, strnlen(image, kNameField - 1));
            std::memcpy(&record.number, image + kNumberOffset, 4);
            m_records.push_back(record);
        }
    }

    // Every record by index, in table order, then the end; names found by
    // name and number wherever the table's order lets a search find them.
    void CheckEnumeration() {
        for (size_t i = 0; i <= m_records.size(); ++i) {
            Buffer name(kMaxBuffer);
            const int status = oamShadowBoardEnum(0, static_cast<int>(i), name.get(), name.size());
            if (i == m_records.size()) {
                Require(status == OAMSHADOW_ERR_NOT_FOUND && name.Untouched());
            } else {
                Require(status == 0 && name.get() == m_records[i].name);
            }
        }
        bool ordered = true;
        for (size_t i = 1; i < m_records.size(); ++i) {
            ordered = ordered &&
                      pxiStricmp(m_records[i - 1].name.c_str(), m_records[i].name.c_str()) < 0;
        }
        for (size_t i = 0; ordered && i < m_records.size(); ++i) {
            uint32_t number = ~m_records[i].number;
            Require(oamShadowBoardGetNumber(0, m_records[i].name.c_str(), &number) == 0);
            Require(number == m_records[i].number);
            Buffer name(kMaxBuffer);
            Require(oamShadowBoardLookupByNumber(0, number, name.get(), name.size()) == 0);
        }
    }

    std::string Name() {
        if (!m_records.empty() && m_input.ConsumeBool()) {
            const Record& record = m_records[m_input.ConsumeIntegralInRange<size_t>(
                0, m_records.size() - 1)];
            return m_input.ConsumeBool() ? record.name : record.name + "x";
        }
        return m_input.ConsumeRandomLengthString(140);
    }

    unsigned Size() {
        return m_input.ConsumeBool() ? kMaxBuffer : m_input.ConsumeIntegralInRange(0u, 140u);
    }

    static void RequireStatus(int status) {
        Require(status == 0 || status == OAMSHADOW_ERR_UNAVAILABLE ||
                status == OAMSHADOW_ERR_NOT_FOUND);
    }

    void Enum() {
        Buffer name(Size());
        const int index = m_input.ConsumeIntegral<int>() % 40;
        const int status = oamShadowBoardEnum(0, index, name.get(), name.size());
        const bool exists = index >= 0 && static_cast<size_t>(index) < m_records.size();
        Require(exists ? status != OAMSHADOW_ERR_NOT_FOUND : status == OAMSHADOW_ERR_NOT_FOUND);
        if (status == 0) Require(name.get() == m_records[index].name);
        RequireStatus(status);
        name.RequireDelivered(status);
    }

    void LookupByNumber() {
        uint32_t number = m_input.ConsumeIntegral<uint32_t>();
        if (!m_records.empty() && m_input.ConsumeBool()) {
            number = m_records[m_input.ConsumeIntegralInRange<size_t>(0, m_records.size() - 1)]
                         .number;
        }
        Buffer name(Size());
        const int status = oamShadowBoardLookupByNumber(0, number, name.get(), name.size());
        RequireStatus(status);
        name.RequireDelivered(status);
        // The first record carrying the number answers.
        for (const Record& record : m_records) {
            if (record.number == number) {
                Require(status == 0 ? name.get() == record.name
                                    : status == OAMSHADOW_ERR_UNAVAILABLE);
                return;
            }
        }
        Require(status == OAMSHADOW_ERR_NOT_FOUND);
    }

    void LookupByDriverIDs() {
        const std::string driverName = m_input.ConsumeRandomLengthString(140);
        const std::string driverBoardID = m_input.ConsumeRandomLengthString(80);
        Buffer name(Size());
        const int status = oamShadowBoardLookupByDriverIDs(0, driverName.c_str(),
                                                           driverBoardID.c_str(), name.get(),
                                                           name.size());
        RequireStatus(status);
        name.RequireDelivered(status);
    }

    void GetNumber() {
        const std::string name = Name();
        uint32_t number = 0xA5A5A5A5;
        const int status = oamShadowBoardGetNumber(0, name.c_str(), &number);
        RequireStatus(status);
        Require(status == 0 || number == 0xA5A5A5A5);
    }

    void GetDriverIDs() {
        const std::string name = Name();
        Buffer driverName(Size());
        Buffer driverBoardID(Size());
        const int status = oamShadowBoardGetDriverIDs(0, name.c_str(), driverName.get(),
                                                      driverName.size(), driverBoardID.get(),
                                                      driverBoardID.size());
        RequireStatus(status);
        driverBoardID.RequireDelivered(status);
        if (status != 0 && !driverName.Untouched()) {
            // Only a board ID that did not fit leaves the driver name delivered.
            Require(status == OAMSHADOW_ERR_UNAVAILABLE);
            driverName.RequireDelivered(0);
        } else {
            driverName.RequireDelivered(status);
        }
    }

    void IsUsingALaw() {
        const std::string name = Name();
        unsigned char flag = 0xA5;
        const int status = oamShadowBoardIsUsingALaw(0, name.c_str(),
                                                     reinterpret_cast<bool*>(&flag));
        RequireStatus(status);
        Require(status == 0 ? flag <= 1 : flag == 0xA5);
    }

    void QmPlugin() {
        unsigned char flag = 0xA5;
        Require(oamShadowBoardGetIsUsingQmPlugin(0, reinterpret_cast<bool*>(&flag)) == 0);
        Require(flag <= 1);
    }

    std::vector<uint8_t> m_segment;
    FuzzedDataProvider m_input;
    std::vector<Record> m_records;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OamTableFuzz(data, size).Run();
    return 0;
}

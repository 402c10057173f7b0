// The board-identity segment "OAM_BoardIDsShadow" as the table harnesses
// model it, apart from the library's record type: a 4-byte count, then
// kRecordSize-byte images (name, number, driver name, driver board ID, A-law
// flag) whose texts end at their field's last byte at the latest.
#ifndef PELK_FUZZ_BOARD_TABLE_SEGMENT_H
#define PELK_FUZZ_BOARD_TABLE_SEGMENT_H

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/harness_support.h"

struct BoardRecord {
    std::string name;
    uint32_t number;
    std::string driverName;
    std::string driverBoardID;
};

// Where each field of an image starts and how many bytes it spans.
struct Field {
    size_t at, size;
};
constexpr Field kName{0, 129}, kDriverName{136, 129}, kDriverBoardID{265, 65};
constexpr size_t kNumberAt = 132;

// The field's text: up to its terminator, or its last byte without one.
inline std::string ReadField(const uint8_t* image, Field field) {
    const char* text = reinterpret_cast<const char*>(image + field.at);
    return std::string(text, strnlen(text, field.size - 1));
}

// The record's image: texts cut to their fields, zeros elsewhere.
inline void PutRecord(uint8_t* image, const BoardRecord& record) {
    std::memset(image, 0, kRecordSize);
    auto put = [image](Field field, const std::string& text) {
        std::memcpy(image + field.at, text.data(), std::min(text.size(), field.size - 1));
    };
    put(kName, record.name), put(kDriverName, record.driverName);
    put(kDriverBoardID, record.driverBoardID);
    std::memcpy(image + kNumberAt, &record.number, 4);
}

// The records a load takes from the segment's bytes: no more than its count
// says and its bytes hold.
inline std::vector<BoardRecord> ParseSegment(const std::vector<uint8_t>& segment) {
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
inline void WriteSegment(const std::vector<uint8_t>& segment) {
    shm_unlink("/OAM_BoardIDsShadow");
    int fd = shm_open("/OAM_BoardIDsShadow", O_RDWR | O_CREAT | O_EXCL, 0600);
    Require(fd >= 0 && ftruncate(fd, static_cast<off_t>(segment.size())) == 0);
    Require(pwrite(fd, segment.data(), segment.size(), 0) ==
            static_cast<ssize_t>(segment.size()));
    close(fd);
}

#endif

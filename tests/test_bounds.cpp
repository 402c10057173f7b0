// Caller buffers on both backends: nothing is written past the capacity or
// the lengths a caller gives, whatever a message announces, and the next
// message still arrives whole.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "tests/support/emu_runtime_side.h"
#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

constexpr size_t kCanaryLen = 8;
constexpr char kCanary = '~';

// A caller's buffer of size bytes with canary bytes behind it.
struct Guarded {
    explicit Guarded(size_t size) : bytes(size + kCanaryLen, kCanary), size(size) {}
    bool Intact() const { return bytes.substr(size) == std::string(kCanaryLen, kCanary); }
    std::string bytes;
    size_t size;
};

// Distinct bytes for each part of a message, so a shifted stream shows.
std::string Part(char first, size_t length) {
    std::string part(length, first);
    for (size_t i = 0; i < length; ++i) part[i] = static_cast<char>(first + i % 40);
    return part;
}

struct Row {
    const char* what;
    uint32_t header;
    unsigned int capacity;
    std::vector<uint32_t> data;    // announced lengths
    std::vector<uint32_t> caller;  // lengths the caller passes
    int received[2];               // ReceiveMessage: kernel driver, emulator
    int fetched[2];                // ReceiveBuffers
};

TEST(Bounds, ReceiveStaysInsideCallerBuffersAndInStep) {
    SimDriver sim;
    cPelkLib_Unix unixLib;
    ASSERT_EQ(unixLib.Open(0, nullptr), 0);
    RuntimeSide runtime;
    runtime.Serve(7);
    cPelkLib_Emu emuLib;
    ASSERT_EQ(emuLib.Open(0, nullptr), 0);
    runtime.Join();

    cPelkLib* const libs[] = {&unixLib, &emuLib};
    const char* const names[] = {"kernel driver", "emulator"};
    // Makes one message arrive on backend b: tag, header and data buffers.
    const auto deliver = [&](size_t b, uint32_t tag, const std::string& header,
                             const std::vector<std::string>& data) {
        PK_PIPE_FRAME frame = RuntimeFrame(1 + uint32_t(data.size()), uint32_t(header.size()));
        frame.desc.tag = tag;
        std::string body = header;
        for (size_t i = 0; i < data.size(); ++i) {
            frame.desc.Buflen[1 + i] = uint32_t(data[i].size());
            body += data[i];
        }
        if (b == 0) {
            sim.Queue(driver_stream::Message(frame.desc, {body.begin(), body.end()}));
        } else {
            runtime.Send(FrameBytes(frame, body));
        }
    };
    const Row rows[] = {
        {"header fills the capacity", 40, 40, {}, {}, {0, 0}, {0, 0}},
        {"header one past the capacity", 40, 39, {}, {}, {-10, -10}, {0, 0}},
        {"caller takes less than announced", 8, 64, {10, 6}, {4, 0}, {0, 0}, {0, 0}},
        {"caller takes 4 of 5000 bytes", 8, 64, {5000}, {4}, {0, 0}, {0, 0}},
        {"caller offers more than announced", 8, 64, {5}, {12}, {0, 0}, {-4, 0}},
        {"every buffer as announced", 8, 64, {3, 7}, {3, 7}, {0, 0}, {0, 0}},
    };
    for (size_t b = 0; b < 2; ++b) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(names[b]) + ": " + row.what);
            std::vector<std::string> data;
            for (size_t i = 0; i < row.data.size(); ++i) {
                data.push_back(Part(char('A' + 10 * i), row.data[i]));
            }
            deliver(b, 0x51, Part('a', row.header), data);
            deliver(b, 0x52, "next", {});

            PK_REC_INFO info;
            Guarded header(row.capacity);
            unsigned int headerLen = 0;
            ASSERT_EQ(
                libs[b]->ReceiveMessage(&info, 1000, row.capacity, &header.bytes[0], &headerLen),
                row.received[b]);
            const unsigned int kept = std::min(row.header, row.capacity);
            EXPECT_EQ(headerLen, kept);
            EXPECT_EQ(header.bytes.substr(0, kept), Part('a', kept));
            EXPECT_TRUE(header.Intact());

            std::vector<Guarded> buffers;
            unsigned int lengths[PK_MAX_DATA_BUFFERS] = {};
            void* pointers[PK_MAX_DATA_BUFFERS] = {};
            for (size_t i = 0; i < row.caller.size(); ++i) {
                lengths[i] = row.caller[i];
                buffers.emplace_back(row.caller[i]);
            }
            for (size_t i = 0; i < buffers.size(); ++i) pointers[i] = &buffers[i].bytes[0];
            if (!row.data.empty()) {
                EXPECT_EQ(libs[b]->ReceiveBuffers(lengths, pointers), row.fetched[b]);
            } else {
                libs[b]->FlushMessageBuffers();
            }
            for (size_t i = 0; i < buffers.size(); ++i) {
                const size_t whole = std::min(row.caller[i], row.data[i]);
                if (i == 0 || row.caller == row.data) {
                    EXPECT_EQ(buffers[i].bytes.substr(0, whole), data[i].substr(0, whole)) << i;
                }
                EXPECT_TRUE(buffers[i].Intact()) << i;
            }

            char next[16] = {};
            ASSERT_EQ(libs[b]->ReceiveMessage(&info, 1000, sizeof next, next, &headerLen), 0);
            EXPECT_EQ(info.tag, 0x52u);
            EXPECT_EQ(std::string(next, headerLen), "next");
        }
    }
}

// Emulator reads into a buffer shorter than what is there: the caller's size
// is the bound. (The kernel driver is told the length of an EEPROM read and
// not the size of board data: test_unix_board covers its areas.)
TEST(Bounds, BoardReadsStayInsideCallerBuffers) {
    cPelkLib_Emu lib;
    char data[] = "0123456789";
    unsigned int count = 0;
    ASSERT_EQ(lib.SetBoardData(1, 10, data, &count), 0);
    for (const unsigned int size : {9u, 19u}) {  // board data of 10, the EEPROM area
        Guarded buffer(size);
        unsigned int n = 0;
        if (size == 9) {
            lib.GetBoardData(1, size, &buffer.bytes[0], &n);
        } else {
            lib.ReadEEPROM(1, 0, size, &buffer.bytes[0], &n);
        }
        EXPECT_LE(n, size);
        EXPECT_TRUE(buffer.Intact()) << size;
    }
}

}  // namespace

// Kernel-driver backend: message transfer over the simulated driver.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

// Bytes 1, 2, 3... of `length`.
std::vector<uint8_t> Body(size_t length) {
    std::vector<uint8_t> body(length);
    for (size_t i = 0; i < length; ++i) body[i] = static_cast<uint8_t>(i + 1);
    return body;
}

// An incoming message of type 7 and tag 0x99 from 0x11 to 0x22.
std::vector<uint8_t> Message(uint32_t numbufs, std::vector<uint32_t> lengths,
                             const std::vector<uint8_t>& body) {
    PK_MSG_DESC desc = {7, 0x22, 0, 0x11, 0, 0x99, numbufs, {}};
    std::copy(lengths.begin(), lengths.end(), desc.Buflen);
    return driver_stream::Message(desc, body);
}

uint32_t RequestWord(const SimDriver::Request& request) {
    return driver_stream::Word(request.block.data(), 0);
}

class UnixMessages : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(lib.Open(0, nullptr), 0); }
    int Receive(unsigned int capacity) {
        std::memset(header, 0xEE, sizeof header);
        std::memset(&info, 0xEE, sizeof info);
        return lib.ReceiveMessage(&info, 0, capacity, header, &headerLen);
    }
    SimDriver sim;
    cPelkLib_Unix lib;
    PK_REC_INFO info;
    uint8_t header[256];
    unsigned int headerLen = 0;
};

TEST_F(UnixMessages, MalformedDeliveriesLeaveTheObjectIdle) {
    EXPECT_EQ(Receive(56), -2);  // nothing waiting, time-out 0
    EXPECT_EQ(sim.pollTimeouts.back(), 0);
    EXPECT_TRUE(sim.requests.empty());

    const std::vector<uint8_t> whole = Message(1, {20}, Body(20));
    const struct {
        std::vector<uint8_t> stream;
        int status;
    } bad[] = {{{}, -3},                                    // nothing delivered
               {{whole.begin(), whole.begin() + 30}, -4},   // shorter than a descriptor
               {Message(0, {}, {}), -4},                    // no header buffer
               {Message(6, {8, 1, 2, 3, 4}, Body(8)), -4},  // more than 5 buffers
               {Message(1, {20}, Body(24)), -5}};           // header longer than declared
    for (const auto& c : bad) {
        sim.Queue(c.stream);
        EXPECT_EQ(Receive(56), c.status) << c.stream.size();
    }
    const PK_REC_INFO described = {7, 0x11, 0x22, 0x99, {0, 0, 0, 0}};
    EXPECT_EQ(std::memcmp(&info, &described, sizeof info), 0);
    EXPECT_EQ(headerLen, 20u);
    EXPECT_EQ(header[19], 20);
    // POLLIN comes with POLLRDNORM from Linux drivers; with POLLERR it does not count.
    sim.Queue(Message(1, {20}, Body(20)));
    sim.extraEvents = POLLERR;
    EXPECT_EQ(Receive(56), -2);
    sim.extraEvents = POLLRDNORM;
    EXPECT_EQ(Receive(56), 0);
    EXPECT_EQ(headerLen, 20u);
    sim.extraEvents = 0;

    // Header larger than the caller's area (bytes kept: test_bounds): the
    // rest is discarded.
    sim.Queue(Message(2, {40, 8}, Body(48)));
    EXPECT_EQ(Receive(10), -10);
    EXPECT_EQ(sim.requests.back().code, 0x6603u);

    // The driver reports more than it was asked for: nothing is copied.
    sim.Queue(Message(1, {20}, Body(20)));
    sim.replies[0x6601] = {105, {}};
    EXPECT_EQ(Receive(56), -4);
    EXPECT_EQ(header[0], 0xEE);
    sim.replies.clear();

    sim.faults[0x6601] = {EIO};
    EXPECT_EQ(Receive(56), -1);
    EXPECT_EQ(lib.GetError(), EIO);
    EXPECT_EQ(Receive(56), 0);  // idle after each of the above
}

TEST_F(UnixMessages, DataBuffersArriveInPieces) {
    const std::vector<uint8_t> body = Body(148);
    sim.Queue(Message(3, {40, 100, 8}, body));
    ASSERT_EQ(Receive(56), 0);  // the header and 16 bytes of the first buffer
    EXPECT_EQ(std::vector<unsigned int>(info.bufLen, info.bufLen + 4),
              std::vector<unsigned int>({100, 8, 0, 0}));
    PK_REC_INFO other;
    EXPECT_EQ(lib.ReceiveMessage(&other, 0, 56, header, &headerLen), -8);

    uint8_t first[100], second[8];
    void* buffers[4] = {first, second, nullptr, nullptr};
    ASSERT_EQ(lib.ReceiveBuffers(info.bufLen, buffers), 0);
    EXPECT_EQ(std::memcmp(first, body.data() + 40, 100), 0);
    EXPECT_EQ(std::memcmp(second, body.data() + 140, 8), 0);
    EXPECT_EQ(lib.ReceiveBuffers(info.bufLen, buffers), -8);

    // A zero length ends the list; the object is idle afterwards.
    sim.Queue(Message(4, {8, 10, 0, 20}, Body(38)));
    ASSERT_EQ(Receive(8), 0);
    unsigned int lengths[4] = {10, 0, 20, 0};
    ASSERT_EQ(lib.ReceiveBuffers(lengths, buffers), 0);
    EXPECT_EQ(RequestWord(sim.requests.back()), 10u);  // nothing asked for the 20

    // A failed fetch, or a message announcing 100 bytes that carries 10,
    // discards the message and still ends it.
    for (int status : {-1, -4}) {
        sim.Queue(Message(2, {8, status == -1 ? 10u : 100u}, Body(18)));
        ASSERT_EQ(Receive(8), 0);
        if (status == -1) sim.faults[0x6602] = {EIO};
        lengths[0] = info.bufLen[0];
        EXPECT_EQ(lib.ReceiveBuffers(lengths, buffers), status);
        EXPECT_EQ(sim.requests.back().code, 0x6603u);
    }
    sim.Queue(Message(2, {8, 10}, Body(18)));
    ASSERT_EQ(Receive(5000), 0);  // the request word stays within the buffer
    EXPECT_EQ(RequestWord(sim.requests.back()), 104u);
    lengths[0] = 0;
    EXPECT_EQ(lib.ReceiveBuffers(lengths, buffers), 0);
    EXPECT_EQ(Receive(56), -2);
}

TEST_F(UnixMessages, SendHandsTheDriverBlocksByAddressAndRetriesOnlyBusy) {
    PK_SEND_INFO info = {3, 0, 0, 0x31, 0x32, 0x33};
    EXPECT_EQ(lib.SendMessage(&info, nullptr, 5, 0, nullptr, nullptr), -3);
    unsigned int five[5] = {};
    EXPECT_EQ(lib.SendMessage(&info, nullptr, 0, 5, nullptr, five), -6);
    EXPECT_TRUE(sim.requests.empty());

    uint8_t a[10] = {}, c[20] = {};
    void* buffers[3] = {a, nullptr, c};
    unsigned int lengths[3] = {10, 0, 20};
    ASSERT_EQ(lib.SendMessage(&info, "\1\2\3\4", 4, 3, buffers, lengths), 0);
    ASSERT_EQ(sim.requests.size(), 3u);  // the empty buffer is not sent
    const PK_MSG_DESC expected = {3, 0, 0x32, 0, 0x31, 0x33, 4, {4, 10, 0, 20, 0}};
    EXPECT_EQ(sim.requests[0].payload, driver_stream::Message(expected, {1, 2, 3, 4}));
    const PK_SEND_REQUEST data = {0, reinterpret_cast<uintptr_t>(c), 0, 20};
    EXPECT_EQ(std::memcmp(sim.requests[2].block.data(), &data, sizeof data), 0);

    // EBUSY is retried after a pause; any other failure ends the send.
    sim.faults[0x6604] = {EBUSY, EBUSY};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lib.SendMessage(&info, nullptr, 0, 0, nullptr, nullptr), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    sim.faults[0x6604] = {EINVAL};
    EXPECT_EQ(lib.SendMessage(&info, nullptr, 0, 0, nullptr, nullptr), -1);
    EXPECT_EQ(lib.GetError(), EINVAL);
}

TEST_F(UnixMessages, ProtocolHeaderTravelsLittleEndian) {
    _PELKOR_MSG_HEADER sent = {1,          0x11223344, {9, 8, 7, 6, 5, 4, 3, 2},
                               0xA0B0C0D0, 10,         {0x01020304, 5, 6, 7, 8, 9, 10, 0x0A0B0C0D}};
    ASSERT_EQ(lib.SendPelkorMessage(&sent, 0x41, 0x42, 0x43, 0, nullptr, nullptr), 0);
    const std::vector<uint8_t>& block = sim.requests.back().payload;
    ASSERT_EQ(block.size(), 104u);
    const PK_MSG_DESC desc = {1, 0, 0x42, 0, 0x41, 0x43, 1, {56, 0, 0, 0, 0}};
    EXPECT_EQ(
        std::vector<uint8_t>(block.begin(), block.begin() + 76),
        driver_stream::Message(desc, {1, 0, 0,    0,    0x44, 0x33, 0x22, 0x11, 9, 8, 7, 6, 5, 4,
                                      3, 2, 0xD0, 0xC0, 0xB0, 0xA0, 10,   0,    0, 0, 4, 3, 2, 1}));
    EXPECT_EQ(block[103], 0x0A);

    std::vector<uint8_t> incoming = {2, 1, 0, 0, 0, 0, 0, 0, 0xAB, 0,    0, 0, 0, 0, 0, 0,
                                     0, 0, 0, 0, 2, 0, 0, 0, 0x10, 0x20, 0, 0, 3, 0, 0, 0};
    incoming.resize(56);
    sim.Queue(Message(1, {56}, incoming));
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER received;
    ASSERT_EQ(lib.ReceivePelkorMessage(&info, 0, &received), 0);
    EXPECT_TRUE(received.word0 == 0x102u && received.opaque[0] == 0xAB &&
                received.paramCount == 2u && received.params[0] == 0x2010u &&
                received.params[1] == 3u);

    incoming[20] = 0xFF;  // a count beyond the eight words converts at most eight
    sim.Queue(Message(1, {56}, incoming));
    ASSERT_EQ(lib.ReceivePelkorMessage(&info, 0, &received), 0);
    EXPECT_EQ(received.paramCount, 0xFFu);
}

TEST_F(UnixMessages, OneThreadSendsWhileAnotherReceives) {
    sim.loopback = true;
    sim.record = false;
    constexpr unsigned int kMessages = 200;
    std::thread sender([this] {
        for (unsigned int tag = 0; tag < kMessages; ++tag) {
            _PELKOR_MSG_HEADER h = {tag, 0, {}, 0, 1, {tag * 3}};
            uint32_t data = tag;
            void* buffers[1] = {&data};
            unsigned int lengths[1] = {4};
            ASSERT_EQ(lib.SendPelkorMessage(&h, 5, 6, tag, 1, buffers, lengths), 0);
        }
    });
    for (unsigned int tag = 0; tag < kMessages; ++tag) {
        PK_REC_INFO info;
        _PELKOR_MSG_HEADER h;
        int status;
        while ((status = lib.ReceivePelkorMessage(&info, 0, &h)) == -2) std::this_thread::yield();
        ASSERT_EQ(status, 0);
        EXPECT_EQ(info.tag, tag);
        EXPECT_EQ(h.params[0], tag * 3);
        uint32_t data = 0;
        void* buffers[4] = {&data};
        ASSERT_EQ(lib.ReceiveBuffers(info.bufLen, buffers), 0);
        EXPECT_EQ(data, tag);
    }
    sender.join();
}

}  // namespace

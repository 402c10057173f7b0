// Feeds the kernel-driver backend whatever a driver could hand it: message
// stream bytes, reply bytes and counts, failed requests and poll readiness,
// all chosen by the input, through the receive operations in the orders a
// caller uses them and through the board operations' replies.
//
// The scripted driver keeps its side of the contract the backend relies on:
// it places no more bytes in an argument area than the shared stream model
// (tests/support/driver_stream.h) allows. Its reply counts are unbounded.
// Every caller area is a heap block of exactly its declared size, so
// AddressSanitizer reports any write or read past it.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/harness_support.h"
#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

class DriverReceiveFuzz {
public:
    // Per request the driver gives the simulation's own answer, a failure
    // with any errno, or input bytes within the request's room with a reply
    // count that may lie.
    DriverReceiveFuzz(const uint8_t* data, size_t size) : m_input(data, size) {
        m_sim.record = false;
        m_sim.answer = [this](unsigned long code, uint8_t* area, int* result) {
            const int mode = m_input.ConsumeIntegralInRange(0, 2);
            if (mode == 1) {
                errno = m_input.ConsumeIntegralInRange(0, 40);
                *result = -1;
            } else if (mode == 2) {
                const size_t room =
                    area == nullptr ? 0 : driver_stream::ReplyRoom(code, area, m_callerRoom);
                const std::vector<uint8_t> bytes =
                    m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange<size_t>(0, room));
                std::copy(bytes.begin(), bytes.end(), area);
                *result = m_input.ConsumeBool() ? static_cast<int>(bytes.size())
                                                : m_input.ConsumeIntegral<int>();
            }
            return mode != 0;
        };
    }

    // The receive buffer's size from none to beyond the smallest; then
    // incoming messages as any stream bytes (a descriptor, then header and
    // data bytes, or less), receive and board operations, poll readiness.
    void Run() {
        const unsigned int size = m_input.ConsumeIntegralInRange(0u, 512u);
        Require(m_lib.Open(size, nullptr) == PKERR_OK);
        m_headerRoom = std::max(size, 56u);
        for (unsigned int n = 0; n < 64 && m_input.remaining_bytes() > 0; ++n) {
            switch (m_input.ConsumeIntegralInRange(0, 7)) {
                case 0:
                case 1:
                    m_sim.Queue(m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegral<uint16_t>()));
                    break;
                case 2:
                case 3: Receive(); break;
                case 4: ReceiveBuffers(); break;
                case 5: m_lib.FlushMessageBuffers(); break;
                case 6: BoardRequest(); break;
                case 7:
                    m_sim.extraEvents = m_input.ConsumeIntegral<short>();
                    m_sim.pollInterrupts = m_input.ConsumeIntegralInRange(0, 2);
                    break;
            }
        }
    }

private:
    // A capacity from none to beyond the receive buffer in an area of
    // exactly that size; beyond any header the backend hands out, at times
    // the largest capacity there is. A header length, when reported, fits
    // both.
    void Receive() {
        const unsigned int size = m_input.ConsumeIntegralInRange(0u, m_headerRoom + 64);
        std::vector<uint8_t> header(size);
        const bool largest = size > m_headerRoom && m_input.ConsumeBool();
        unsigned int headerLen = 0xDEADu;
        m_lib.ReceiveMessage(&m_info, 0, largest ? UINT32_MAX : size, header.data(), &headerLen);
        Require(headerLen == 0xDEADu || (headerLen <= size && headerLen <= m_headerRoom));
    }

    // Each length as the last message announced it (up to 1024, what the
    // harness allocates) or from the input.
    void ReceiveBuffers() {
        unsigned int lengths[PK_MAX_DATA_BUFFERS];
        std::vector<uint8_t> areas[PK_MAX_DATA_BUFFERS];
        void* buffers[PK_MAX_DATA_BUFFERS];
        for (unsigned int i = 0; i < PK_MAX_DATA_BUFFERS; ++i) {
            const bool announced = m_input.ConsumeBool() && m_info.bufLen[i] <= 1024;
            lengths[i] = announced ? m_info.bufLen[i] : m_input.ConsumeIntegralInRange(0u, 1024u);
            areas[i].resize(lengths[i]);
            buffers[i] = areas[i].data();
        }
        m_lib.ReceiveBuffers(lengths, buffers);
    }

    // A board request into the caller's area, of a size from none to beyond
    // each record: the driver may fill as much as the request allows.
    void BoardRequest() {
        const unsigned int room = m_callerRoom = m_input.ConsumeIntegralInRange(0u, 300u);
        std::vector<uint8_t> area(room);
        std::vector<unsigned int> firsts(room / 64), seconds(room / 64);  // up to four boards
        unsigned int count = 0xDEADu;
        switch (m_input.ConsumeIntegralInRange(0, 3)) {
            case 0:  // an EEPROM read succeeds only with every byte asked for
                Require(m_lib.ReadEEPROM(1, 0, room, area.data(), &count) != PKERR_OK ||
                        count == room);
                break;
            case 1: m_lib.GetBoardData(1, room, area.data(), &count); break;
            case 2:
                m_lib.GetBoardMapping(1, room, reinterpret_cast<PK_BOARD_MAPPING*>(area.data()));
                break;
            case 3: m_lib.DetectBoards(room / 64, firsts.data(), seconds.data(), &count); break;
        }
    }

    FuzzedDataProvider m_input;
    SimDriver m_sim;
    cPelkLib_Unix m_lib;
    unsigned int m_headerRoom = 0;  // header bytes the receive buffer holds
    PK_REC_INFO m_info = {};        // what the last receive told the caller
    unsigned int m_callerRoom = 0;  // caller's reply area of the board request under way
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DriverReceiveFuzz(data, size).Run();
    return 0;
}

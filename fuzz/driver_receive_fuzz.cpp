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
#include <cstring>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/harness_support.h"
#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"

namespace {

constexpr unsigned int kMaxOpenSize = 512;
constexpr unsigned int kMaxCallerLen = 1024;  // largest caller buffer the harness allocates
constexpr unsigned int kMaxOperations = 64;

class DriverReceiveFuzz {
public:
    DriverReceiveFuzz(const uint8_t* data, size_t size) : m_input(data, size) {
        m_sim.record = false;
        m_sim.answer = [this](unsigned long code, uint8_t* area, int* result) {
            return Answer(code, area, result);
        };
    }

    void Run() {
        Open();
        for (unsigned int n = 0; n < kMaxOperations && m_input.remaining_bytes() > 0; ++n) {
            switch (m_input.ConsumeIntegralInRange(0, 10)) {
                case 0: case 1: QueueMessage(); break;
                case 2: case 3: ReceiveAndFetch(false); break;
                case 4: ReceiveAndFetch(true); break;
                case 5: ReceiveBuffers(CallerLengths()); break;
                case 6: m_lib.FlushMessageBuffers(); break;
                case 7: case 8: BoardRequest(); break;
                case 9: SetReadiness(); break;
                case 10: Open(); break;
            }
        }
    }

private:
    // Per request: the simulation's own answer, a failure, or scripted bytes
    // with a reply count that may lie.
    bool Answer(unsigned long code, uint8_t* area, int* result) {
        const int mode = m_input.ConsumeIntegralInRange(0, 3);
        if (mode == 0) {
            return false;
        }
        if (mode == 1) {
            static const int kErrors[] = {EBUSY, EINVAL, EIO, EFAULT, EINTR, 0};
            errno = m_input.PickValueInArray(kErrors);
            *result = -1;
            return true;
        }
        const size_t room =
            area == nullptr ? 0 : driver_stream::ReplyRoom(code, area, m_callerRoom);
        const std::vector<uint8_t> bytes =
            m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange<size_t>(0, room));
        if (!bytes.empty()) {
            std::memcpy(area, bytes.data(), bytes.size());
        }
        *result = m_input.ConsumeBool() ? static_cast<int>(bytes.size())
                                        : m_input.ConsumeIntegral<int>();
        return true;
    }

    void Open() {
        const unsigned int size = m_input.ConsumeIntegralInRange(0u, kMaxOpenSize);
        Require(m_lib.Open(size, nullptr) == PKERR_OK);
        m_headerRoom = size < 56 ? 56 : size;
    }

    // A descriptor with small or arbitrary lengths followed by arbitrary
    // bytes, or raw stream bytes.
    void QueueMessage() {
        if (m_input.ConsumeBool()) {
            m_sim.Queue(m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange(0, 700)));
            return;
        }
        PK_MSG_DESC desc = {};
        desc.type = m_input.ConsumeIntegral<uint32_t>();
        desc.tag = m_input.ConsumeIntegral<uint32_t>();
        desc.numbufs = m_input.ConsumeIntegralInRange<uint32_t>(0, 7);
        for (uint32_t& length : desc.Buflen) {
            length = m_input.ConsumeBool() ? m_input.ConsumeIntegralInRange<uint32_t>(0, 600)
                                           : m_input.ConsumeIntegral<uint32_t>();
        }
        m_sim.Queue(driver_stream::Message(
            desc, m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange(0, 1500))));
    }

    void SetReadiness() {
        static const short kEvents[] = {0, POLLIN, POLLERR, POLLHUP, POLLIN | POLLERR, POLLOUT};
        m_sim.extraEvents = m_input.PickValueInArray(kEvents);
        m_sim.pollInterrupts = m_input.ConsumeIntegralInRange(0, 2);
    }

    // Capacities from none to beyond the receive buffer; an area of exactly
    // that size, or of the receive buffer's header room when the capacity is
    // larger than any header the backend can hand out.
    int Receive(PK_REC_INFO* info) {
        unsigned int capacity = m_input.ConsumeIntegralInRange(0u, m_headerRoom + 64);
        if (m_input.ConsumeBool()) {
            capacity = UINT32_MAX;
        }
        std::vector<uint8_t> header(capacity <= m_headerRoom + 64 ? capacity : m_headerRoom);
        unsigned int headerLen = 0xDEADu;
        int status = m_lib.ReceiveMessage(info, 0, capacity, header.data(), &headerLen);
        if (status == PKERR_OK || status == PKERR_DATA_LOST || status == PKERR_WRONG_BUFSIZE) {
            Require(headerLen <= capacity && headerLen <= m_headerRoom);
        }
        return status;
    }

    // A message as a caller receives it, then what the caller does next:
    // fetch its data buffers into buffers of the announced sizes (if it can
    // have them), or drop them.
    void ReceiveAndFetch(bool pelkor) {
        PK_REC_INFO info;
        _PELKOR_MSG_HEADER header;
        const int status = pelkor ? m_lib.ReceivePelkorMessage(&info, 0, &header) : Receive(&info);
        if (status != PKERR_OK && status != PKERR_DATA_LOST) {
            return;
        }
        std::vector<unsigned int> lengths(info.bufLen, info.bufLen + PK_MAX_DATA_BUFFERS);
        if (std::all_of(lengths.begin(), lengths.end(),
                        [](unsigned int length) { return length <= kMaxCallerLen; }) &&
            m_input.ConsumeBool()) {
            ReceiveBuffers(lengths);
        } else {
            m_lib.FlushMessageBuffers();
        }
    }

    std::vector<unsigned int> CallerLengths() {
        std::vector<unsigned int> lengths(PK_MAX_DATA_BUFFERS);
        for (unsigned int& length : lengths) {
            length = m_input.ConsumeIntegralInRange(0u, kMaxCallerLen);
        }
        return lengths;
    }

    void ReceiveBuffers(std::vector<unsigned int> lengths) {
        std::vector<std::vector<uint8_t>> storage;
        std::vector<void*> buffers;
        for (unsigned int length : lengths) {
            storage.emplace_back(length);
            buffers.push_back(storage.back().data());
        }
        m_lib.ReceiveBuffers(lengths.data(), buffers.data());
    }

    // A board request into the caller's area, of a size from none to beyond
    // each record: the driver may fill as much as the request allows.
    void BoardRequest() {
        m_callerRoom = m_input.ConsumeIntegralInRange(0u, 300u);
        std::vector<uint8_t> area(m_callerRoom);
        unsigned int count = 0xDEADu, first = 0, second = 0;
        switch (m_input.ConsumeIntegralInRange(0, 6)) {
            case 0: case 1: {
                const int status =
                    m_input.ConsumeBool()
                        ? m_lib.ReadEEPROM(1, 0, m_callerRoom, area.data(), &count)
                        : m_lib.ReadEEPROMbySlot(1, 2, 0, m_callerRoom, area.data(), &count);
                Require(status != PKERR_OK || count == m_callerRoom);
                break;
            }
            case 2: m_lib.GetBoardData(1, m_callerRoom, area.data(), &count); break;
            case 3:
                m_lib.GetDriverStats(1, 2, m_callerRoom,
                                     reinterpret_cast<PK_GET_DRVR_STATS*>(area.data()), &count);
                break;
            case 4:
                m_lib.GetBoardMapping(1, m_callerRoom,
                                      reinterpret_cast<PK_BOARD_MAPPING*>(area.data()));
                m_lib.GetDriverVersion(&first, &second);
                break;
            case 5: {  // room for up to four boards
                std::vector<unsigned int> firsts(m_callerRoom / 64), seconds(m_callerRoom / 64);
                m_lib.DetectBoards(m_callerRoom / 64, firsts.data(), seconds.data(), &count);
                break;
            }
            case 6:
                m_sim.boardReady = m_input.ConsumeBool();
                m_lib.LiftBoardReset(1, 0);
                break;
        }
    }

    FuzzedDataProvider m_input;
    SimDriver m_sim;
    cPelkLib_Unix m_lib;
    unsigned int m_headerRoom = 0;  // header bytes the receive buffer holds
    unsigned int m_callerRoom = 0;  // caller's reply area of the board request under way
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DriverReceiveFuzz(data, size).Run();
    return 0;
}

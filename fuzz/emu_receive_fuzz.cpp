// Feeds the emulator backend whatever the runtime could write to its pipe:
// the input's first bytes go into the library's in-pipe, whose writing end is
// then closed, and the rest chooses the calls: ReceiveMessage (header room
// from the input), ReceiveBuffers (lengths as announced or from the input)
// and FlushMessageBuffers, until the pipe is
// drained. A model of the frame stream tells what every call must return and
// deliver, and after every call the library has read exactly as far as the
// model. Caller areas are heap blocks of exactly their declared size for
// AddressSanitizer.
//
// Input: 2 bytes little-endian pipe length n, n pipe bytes, then the choices.
// Runs in the sandbox: the pipe pair is a real FIFO pair under /dev.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "emu/emulator_paths.h"
#include "emu/pelklib_emu.h"
#include "fuzz/harness_support.h"
#include "tests/support/pipe_frames.h"

namespace {

constexpr int kPipeNumber = 1;
constexpr size_t kMaxPipeBytes = 60000;  // fits the default pipe capacity
constexpr uint32_t kMaxCallerLen = 4096;  // largest caller area allocated
constexpr unsigned int kMaxCalls = 4000;

class EmuReceiveFuzz {
public:
    EmuReceiveFuzz(const uint8_t* data, size_t size)
        : m_pipe(data + 2, data + 2 + PipeLength(data, size)),
          m_input(data + 2 + m_pipe.size(), size < 2 ? 0 : size - 2 - m_pipe.size()) {}

    void Run() {
        Attach();
        for (unsigned int n = 0; n < kMaxCalls && m_input.remaining_bytes() > 0; ++n) {
            switch (m_input.ConsumeIntegralInRange(0, 5)) {
                case 0: case 1: case 2: Receive(); break;
                case 3: case 4: ReceiveBuffers(); break;
                case 5: Flush(); break;
            }
        }
        // Whatever the choices, a caller reading on drains the pipe, then
        // finds its end.
        while (Left() > 0) {
            Receive();
            Flush();
        }
        Receive();
    }

private:
    static size_t PipeLength(const uint8_t* data, size_t size) {
        if (size < 2) return 0;
        size_t length = data[0] | static_cast<size_t>(data[1]) << 8;
        return std::min(std::min(length, size - 2), kMaxPipeBytes);
    }

    // The library's in-pipe holds the input's pipe bytes, its writer gone.
    void Attach() {
        const EmulatorPath in = EmulatorPipe(ZBHOST_PIPE_IN_NAME, kPipeNumber);
        const EmulatorPath out = EmulatorPipe(ZBHOST_PIPE_OUT_NAME, kPipeNumber);
        const int reader = open(in.text, O_RDONLY | O_NONBLOCK);
        Require(reader >= 0 && m_lib.AttachPipes(kPipeNumber) == 0);
        const int writer = open(out.text, O_WRONLY | O_NONBLOCK);
        Require(writer >= 0 && WriteAll(writer, m_pipe.data(), m_pipe.size()));
        close(writer);
        close(reader);
    }

    size_t Left() const { return m_pipe.size() - m_at; }

    // The library consumed exactly what the model did.
    void RequireInStep() {
        int waiting = -1;
        Require(ioctl(m_lib.GetWaitHandle(), FIONREAD, &waiting) == 0 &&
                static_cast<size_t>(waiting) == Left());
    }

    void Receive() {
        const uint32_t room = m_input.ConsumeBool() ? 56 : m_input.ConsumeIntegralInRange(0u, 64u);
        std::unique_ptr<uint8_t[]> header(new uint8_t[room == 0 ? 1 : room]);
        PK_REC_INFO info;
        std::memset(&info, 0xEE, sizeof info);
        unsigned int headerLen = 0xDEAD;
        const unsigned int timeout = m_input.ConsumeIntegralInRange(0u, 5u);
        const int status = m_lib.ReceiveMessage(&info, timeout, room, header.get(), &headerLen);
        Require(status == ModelReceive(info, header.get(), room, headerLen));
        RequireInStep();
    }

    // What the last message left pending is dropped first, then a frame is
    // read in one go, then exactly Buflen[0] bytes. The status to expect.
    int ModelReceive(const PK_REC_INFO& info, const uint8_t* header, uint32_t room,
                     unsigned int headerLen) {
        if (Drop() != 0) return PKERR_UNKNOWN;
        if (Left() < sizeof(PK_PIPE_FRAME)) {
            m_at = m_pipe.size();
            return PKERR_UNKNOWN;
        }
        PK_MSG_DESC desc;
        std::memcpy(&desc, &m_pipe[m_at + 4], sizeof desc);
        const bool magic = std::memcmp(&m_pipe[m_at], ZBHOST_FRAME_MAGIC, 4) == 0;
        m_at += sizeof(PK_PIPE_FRAME);
        if (!magic || desc.numbufs == 0 || desc.numbufs > 5) return PKERR_BAD_MESSAGE;
        if (desc.Buflen[0] == 0 || desc.Buflen[0] > 56) {
            // A sound descriptor: everything it announces is dropped later.
            m_pending.assign(desc.Buflen, desc.Buflen + desc.numbufs);
            m_refused = true;
            return PKERR_BAD_MESSAGE;
        }
        if (Left() < desc.Buflen[0]) {
            m_at = m_pipe.size();
            return PKERR_BAD_MESSAGE;
        }
        const uint32_t delivered = std::min(desc.Buflen[0], room);
        Require(headerLen == delivered &&
                std::memcmp(header, &m_pipe[m_at], delivered) == 0);
        m_at += desc.Buflen[0];
        PK_REC_INFO want = {desc.type, desc.srcAddr1, desc.srcAddr2, desc.tag, {0, 0, 0, 0}};
        std::copy(desc.Buflen + 1, desc.Buflen + desc.numbufs, want.bufLen);
        Require(std::memcmp(&info, &want, sizeof want) == 0);
        m_pending.assign(want.bufLen, want.bufLen + (desc.numbufs - 1));
        m_announced = want;
        return desc.Buflen[0] > room ? PKERR_DATA_LOST : 0;
    }

    // Lengths as the last message announced them, or the caller's own.
    void ReceiveBuffers() {
        const bool announced = m_input.ConsumeBool();
        unsigned int lengths[4];
        std::unique_ptr<uint8_t[]> buffers[4];
        void* areas[4];
        for (int i = 0; i < 4; ++i) {
            lengths[i] = announced && m_announced.bufLen[i] <= kMaxCallerLen
                             ? m_announced.bufLen[i]
                             : m_input.ConsumeIntegralInRange(0u, kMaxCallerLen);
            buffers[i].reset(new uint8_t[lengths[i] == 0 ? 1 : lengths[i]]);
            areas[i] = buffers[i].get();
        }
        Require(m_lib.ReceiveBuffers(lengths, areas) == Drop(lengths, areas));
        RequireInStep();
    }

    void Flush() {
        Require(m_lib.FlushMessageBuffers() == Drop());
        RequireInStep();
    }

    // Drops what is pending: a refused message's buffers, or the data
    // buffers, of which each caller area (when given) got at most what was
    // announced. The status the library gives for it.
    int Drop(const unsigned int* lengths = nullptr, void* const* areas = nullptr) {
        int status = 0;
        for (size_t i = 0; i < m_pending.size(); ++i) {
            if (Left() < m_pending[i]) {
                m_at = m_pipe.size();
                status = PKERR_UNKNOWN;
                break;
            }
            Require(areas == nullptr || m_refused ||
                    std::memcmp(areas[i], &m_pipe[m_at],
                                std::min<size_t>(lengths[i], m_pending[i])) == 0);
            m_at += m_pending[i];
        }
        m_pending.clear();
        m_refused = false;
        return status;
    }

    const std::vector<uint8_t> m_pipe;
    FuzzedDataProvider m_input;
    size_t m_at = 0;
    std::vector<uint32_t> m_pending;  // buffers the last message left in the pipe
    bool m_refused = false;           // ... of a refused one: all of it, never delivered
    PK_REC_INFO m_announced = {};     // the last message delivered
    cPelkLib_Emu m_lib;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The backend reports every failure on standard output.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    mkfifo(EmulatorPipe(ZBHOST_PIPE_IN_NAME, kPipeNumber).text, 0600);
    mkfifo(EmulatorPipe(ZBHOST_PIPE_OUT_NAME, kPipeNumber).text, 0600);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EmuReceiveFuzz(data, size).Run();
    return 0;
}

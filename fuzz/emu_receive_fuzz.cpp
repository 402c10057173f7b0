// Feeds the emulator backend whatever the runtime could write to its pipe:
// the input's first bytes go into the library's in-pipe, whose writing end is
// then closed, and the rest chooses the calls: ReceiveMessage (header room
// from the input) or ReceivePelkorMessage, ReceiveBuffers (lengths as
// announced or from the input), FlushMessageBuffers and sends, until the
// pipe is drained. A model of the frame stream tells what every call must
// return and deliver. Caller areas are heap blocks of exactly their declared
// size for AddressSanitizer.
//
// Input: 2 bytes little-endian pipe length n, n pipe bytes, then the choices.
// Runs in the sandbox: the pipe pair is a real FIFO pair under /dev.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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

struct Fifos {
    std::string in = EmulatorPipe(ZBHOST_PIPE_IN_NAME, kPipeNumber).text;    // library writes
    std::string out = EmulatorPipe(ZBHOST_PIPE_OUT_NAME, kPipeNumber).text;  // library reads
};

const Fifos* g_fifos = nullptr;

class EmuReceiveFuzz {
public:
    EmuReceiveFuzz(const uint8_t* data, size_t size)
        : m_pipe(data + 2, data + 2 + PipeLength(data, size)),
          m_input(data + 2 + m_pipe.size(), size < 2 ? 0 : size - 2 - m_pipe.size()) {}

    ~EmuReceiveFuzz() { CloseRuntimeReader(); }

    void Run() {
        Attach();
        for (unsigned int n = 0; n < kMaxCalls && (Left() > 0 || m_input.remaining_bytes() > 0);
             ++n) {
            switch (m_input.ConsumeIntegralInRange(0, 7)) {
                case 0: case 1: case 2: Receive(); break;
                case 3: case 4: ReceiveBuffers(); break;
                case 5: Flush(); break;
                case 6: Send(); break;
                case 7: CloseRuntimeReader(); break;
            }
        }
        // Whatever the choices, a caller reading on drains the pipe.
        while (Left() > 0) {
            Receive();
            Flush();
        }
        PK_REC_INFO info;
        uint8_t header[56];
        unsigned int headerLen = 0;
        Require(m_lib.ReceiveMessage(&info, 0, 56, header, &headerLen) == PKERR_UNKNOWN);
    }

private:
    static size_t PipeLength(const uint8_t* data, size_t size) {
        if (size < 2) return 0;
        size_t length = data[0] | static_cast<size_t>(data[1]) << 8;
        return std::min(std::min(length, size - 2), kMaxPipeBytes);
    }

    // The library's in-pipe ends after the input; its out-pipe is read here.
    void Attach() {
        m_runtimeRead = open(g_fifos->in.c_str(), O_RDONLY | O_NONBLOCK);
        int holder = open(g_fifos->out.c_str(), O_RDWR);
        Require(m_runtimeRead >= 0 && holder >= 0);
        Require(m_lib.AttachPipes(kPipeNumber) == 0);
        int runtimeWrite = open(g_fifos->out.c_str(), O_WRONLY | O_NONBLOCK);
        close(holder);
        Require(runtimeWrite >= 0 && WriteAll(runtimeWrite, m_pipe.data(), m_pipe.size()));
        close(runtimeWrite);
    }

    size_t Left() const { return m_pipe.size() - m_at; }

    // The library consumed exactly what the model did.
    void RequireInStep() {
        int waiting = -1;
        Require(ioctl(m_lib.GetWaitHandle(), FIONREAD, &waiting) == 0 &&
                static_cast<size_t>(waiting) == Left());
    }

    void Receive() {
        const bool pelkor = m_input.ConsumeBool();  // the protocol header's 56 bytes
        const uint32_t room = pelkor || m_input.ConsumeBool()
                                  ? 56 : m_input.ConsumeIntegralInRange(0u, 64u);
        std::unique_ptr<uint8_t[]> header(new uint8_t[room == 0 ? 1 : room]);
        PK_REC_INFO info;
        std::memset(&info, 0xEE, sizeof info);
        unsigned int headerLen = 0xDEAD;
        const unsigned int timeout = m_input.ConsumeIntegralInRange(0u, 5u);
        const int status =
            pelkor ? m_lib.ReceivePelkorMessage(
                         &info, timeout, reinterpret_cast<_PELKOR_MSG_HEADER*>(header.get()))
                   : m_lib.ReceiveMessage(&info, timeout, room, header.get(), &headerLen);
        Require(status == ModelReceive(info, header.get(), room, pelkor ? nullptr : &headerLen));
        RequireInStep();
    }

    // What the last message left pending is dropped first, then a frame is
    // read in one go, then exactly Buflen[0] bytes. The status to expect.
    int ModelReceive(const PK_REC_INFO& info, const uint8_t* header, uint32_t room,
                     const unsigned int* headerLen) {
        if (Drop() != 0) return PKERR_UNKNOWN;
        if (Left() < sizeof(PK_PIPE_FRAME)) {
            m_at = m_pipe.size();
            return PKERR_UNKNOWN;
        }
        const PK_PIPE_FRAME frame = FrameAt(&m_pipe[m_at]);
        const PK_MSG_DESC& desc = frame.desc;
        m_at += sizeof frame;
        if (std::memcmp(frame.magic, ZBHOST_FRAME_MAGIC, 4) != 0 || desc.numbufs == 0 ||
            desc.numbufs > 5) {
            return PKERR_BAD_MESSAGE;
        }
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
        Require((headerLen == nullptr || *headerLen == delivered) &&
                std::memcmp(header, &m_pipe[m_at], delivered) == 0);
        m_at += desc.Buflen[0];
        PK_REC_INFO want = {desc.type, desc.srcAddr1, desc.srcAddr2, desc.tag, {0, 0, 0, 0}};
        std::copy(desc.Buflen + 1, desc.Buflen + desc.numbufs, want.bufLen);
        Require(std::memcmp(&info, &want, sizeof want) == 0);
        m_pending.assign(want.bufLen, want.bufLen + (desc.numbufs - 1));
        m_info = info;
        return desc.Buflen[0] > room ? PKERR_DATA_LOST : 0;
    }

    // Lengths as the last message announced them, or the caller's own.
    void ReceiveBuffers() {
        const bool announced = m_input.ConsumeBool();
        unsigned int lengths[4];
        std::unique_ptr<uint8_t[]> buffers[4];
        void* areas[4];
        for (int i = 0; i < 4; ++i) {
            lengths[i] = announced && m_info.bufLen[i] <= kMaxCallerLen
                             ? m_info.bufLen[i]
                             : m_input.ConsumeIntegralInRange(0u, kMaxCallerLen);
            buffers[i].reset(new uint8_t[lengths[i] == 0 ? 1 : lengths[i]]);
            areas[i] = buffers[i].get();
        }
        const int status = m_lib.ReceiveBuffers(lengths, areas);
        Require(status == Drop(lengths, areas));
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

    // A send goes out whole, or fails with a status once nobody reads; the
    // thread's signal mask is the same afterwards and no SIGPIPE is left.
    void Send() {
        const unsigned int headerLen = m_input.ConsumeIntegralInRange(0u, 56u);
        const unsigned int count = m_input.ConsumeIntegralInRange(0u, 4u);
        std::vector<uint8_t> header = m_input.ConsumeBytes<uint8_t>(headerLen);
        header.resize(headerLen);
        std::vector<uint8_t> data[4];
        void* buffers[4];
        unsigned int lengths[4];
        size_t total = ZBHOST_SEND_BLOCK_LEN;
        for (unsigned int i = 0; i < count; ++i) {
            data[i].resize(m_input.ConsumeIntegralInRange(0u, 2000u), static_cast<uint8_t>(i));
            buffers[i] = data[i].data();
            lengths[i] = static_cast<unsigned int>(data[i].size());
            total += data[i].size();
        }
        PK_SEND_INFO info = {1, 0, 0, 2, 3, m_input.ConsumeIntegral<uint32_t>()};
        sigset_t before, after, pending;
        pthread_sigmask(SIG_SETMASK, nullptr, &before);
        const int status = m_lib.SendMessage(&info, header.data(), headerLen, count, buffers,
                                             lengths);
        pthread_sigmask(SIG_SETMASK, nullptr, &after);
        sigpending(&pending);
        for (int signal = 1; signal < SIGRTMAX; ++signal) {
            Require(sigismember(&before, signal) == sigismember(&after, signal));
        }
        Require(sigismember(&pending, SIGPIPE) == 0);
        Require(status == (m_runtimeRead < 0 ? PKERR_UNKNOWN : 0));
        if (m_runtimeRead < 0) return;
        std::vector<uint8_t> sent(total);
        Require(read(m_runtimeRead, sent.data(), total) == static_cast<ssize_t>(total));
        const PK_PIPE_FRAME frame = FrameAt(sent.data());
        Require(std::memcmp(frame.magic, ZBHOST_FRAME_MAGIC, 4) == 0 &&
                frame.desc.numbufs == count + 1 && frame.desc.Buflen[0] == headerLen);
        Require(headerLen == 0 || std::memcmp(&sent[52], header.data(), headerLen) == 0);
    }

    void CloseRuntimeReader() {
        if (m_runtimeRead >= 0) close(m_runtimeRead);
        m_runtimeRead = -1;
    }

    const std::vector<uint8_t> m_pipe;
    FuzzedDataProvider m_input;
    size_t m_at = 0;
    std::vector<uint32_t> m_pending;  // buffers the last message left in the pipe
    bool m_refused = false;           // ... of a refused one: all of it, never delivered
    PK_REC_INFO m_info = {};
    int m_runtimeRead = -1;
    cPelkLib_Emu m_lib;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The backend reports every failure on standard output.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    static const Fifos fifos;
    mkfifo(fifos.in.c_str(), 0600);
    mkfifo(fifos.out.c_str(), 0600);
    g_fifos = &fifos;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EmuReceiveFuzz(data, size).Run();
    return 0;
}

// Feeds the emulator backend whatever the runtime could write to its pipe:
// the input's first bytes go into the library's in-pipe, whose writing end is
// then closed, and the rest chooses the calls: ReceiveMessage (header room
// from the input) or ReceivePelkorMessage, ReceiveBuffers (lengths as
// announced or from the input), FlushMessageBuffers and sends, until the
// pipe is drained.
//
// An independent model of the pipe stream tells what every call must return
// and deliver; pending data buffers are tracked the same way. Caller areas
// are heap blocks of exactly their declared size for AddressSanitizer.
//
// Input: 2 bytes little-endian pipe length n, n pipe bytes, then the choices.
// Runs in the sandbox: the pipe pair is a real FIFO pair under /dev.
#include <algorithm>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "emu/pelklib_emu.h"
#include "emu/emulator_paths.h"
#include "emu/pipe_frame.h"
#include "fuzz/harness_support.h"

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

uint32_t Word(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + offset, sizeof word);
    return word;
}

class EmuReceiveFuzz {
public:
    EmuReceiveFuzz(const uint8_t* data, size_t size)
        : m_pipe(data + 2, data + 2 + PipeLength(data, size)),
          m_input(data + 2 + m_pipe.size(), size < 2 ? 0 : size - 2 - m_pipe.size()) {}

    ~EmuReceiveFuzz() {
        if (m_runtimeRead >= 0) close(m_runtimeRead);
    }

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
        Require(m_lib.ReceiveMessage(&m_info, 0, 56, m_header, &m_headerLen) == PKERR_UNKNOWN);
    }

private:
    static size_t PipeLength(const uint8_t* data, size_t size) {
        if (size < 2) return 0;
        size_t length = data[0] | static_cast<size_t>(data[1]) << 8;
        if (length > size - 2) length = size - 2;
        return length < kMaxPipeBytes ? length : kMaxPipeBytes;
    }

    // The library's in-pipe ends after the input; its out-pipe is read here.
    void Attach() {
        m_runtimeRead = open(g_fifos->in.c_str(), O_RDONLY | O_NONBLOCK);
        int holder = open(g_fifos->out.c_str(), O_RDWR);
        Require(m_runtimeRead >= 0 && holder >= 0);
        Require(m_lib.AttachPipes(kPipeNumber) == 0);
        int runtimeWrite = open(g_fifos->out.c_str(), O_WRONLY | O_NONBLOCK);
        close(holder);
        Require(runtimeWrite >= 0);
        size_t written = 0;
        while (written < m_pipe.size()) {
            ssize_t n = write(runtimeWrite, m_pipe.data() + written, m_pipe.size() - written);
            Require(n > 0);
            written += static_cast<size_t>(n);
        }
        close(runtimeWrite);
    }

    size_t Left() const { return m_pipe.size() - m_at; }

    // The library consumed exactly what the model did.
    void RequireInStep() const {
        int waiting = -1;
        Require(ioctl(m_lib_in(), FIONREAD, &waiting) == 0);
        Require(static_cast<size_t>(waiting) == Left());
    }
    int m_lib_in() const { return const_cast<cPelkLib_Emu&>(m_lib).GetWaitHandle(); }

    void Receive() {
        const bool pelkor = m_input.ConsumeBool();  // the protocol header's 56 bytes
        const uint32_t room = pelkor || m_input.ConsumeBool()
                                  ? 56 : m_input.ConsumeIntegralInRange(0u, 64u);
        std::unique_ptr<uint8_t[]> header(new uint8_t[room == 0 ? 1 : room]);
        PK_REC_INFO info;
        std::memset(&info, 0xEE, sizeof info);
        unsigned int headerLen = 0xDEAD;
        const unsigned int timeout = m_input.ConsumeIntegralInRange(0u, 5u);
        int status;
        if (pelkor) {
            status = m_lib.ReceivePelkorMessage(
                &info, timeout, reinterpret_cast<_PELKOR_MSG_HEADER*>(header.get()));
        } else {
            status = m_lib.ReceiveMessage(&info, timeout, room, header.get(), &headerLen);
        }
        // The model: what the last message left pending is dropped first,
        // then a frame read in one go, then exactly Buflen[0] bytes.
        if (DropPending() != 0) {
            Require(status == PKERR_UNKNOWN);
            RequireInStep();
            return;
        }
        if (Left() < sizeof(PK_PIPE_FRAME)) {
            m_at = m_pipe.size();
            Require(status == PKERR_UNKNOWN);
            RequireInStep();
            return;
        }
        const size_t frame = m_at;
        m_at += sizeof(PK_PIPE_FRAME);
        const uint32_t numbufs = Word(m_pipe, frame + 4 + 24);
        const uint32_t headerBytes = Word(m_pipe, frame + 4 + 28);
        if (std::memcmp(&m_pipe[frame], ZBHOST_FRAME_MAGIC, 4) != 0 || numbufs == 0 ||
            numbufs > 5) {
            Require(status == PKERR_BAD_MESSAGE);
        } else if (headerBytes == 0 || headerBytes > 56) {
            // A sound descriptor: everything it announces is dropped later.
            Require(status == PKERR_BAD_MESSAGE);
            for (uint32_t i = 0; i < numbufs; ++i) {
                m_refused += Word(m_pipe, frame + 4 + 28 + 4 * i);
            }
        } else if (Left() < headerBytes) {
            m_at = m_pipe.size();
            Require(status == PKERR_BAD_MESSAGE);
        } else {
            const uint32_t delivered = headerBytes < room ? headerBytes : room;
            Require(status == (headerBytes > room ? PKERR_DATA_LOST : 0));
            Require(pelkor || headerLen == delivered);
            Require(std::memcmp(header.get(), &m_pipe[m_at], delivered) == 0);
            m_at += headerBytes;
            Require(info.type == Word(m_pipe, frame + 4));
            Require(info.srcAddr1 == Word(m_pipe, frame + 4 + 12));
            Require(info.srcAddr2 == Word(m_pipe, frame + 4 + 4));
            Require(info.tag == Word(m_pipe, frame + 4 + 20));
            for (uint32_t i = 0; i < 4; ++i) {
                const uint32_t length = i + 1 < numbufs ? Word(m_pipe, frame + 4 + 32 + 4 * i) : 0;
                Require(info.bufLen[i] == length);
                if (i + 1 < numbufs) m_pending.push_back(length);
            }
            m_info = info;
        }
        RequireInStep();
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
        int expected = DropRefused();
        // Each buffer takes at most what was announced; the rest is dropped.
        for (size_t i = 0; i < m_pending.size() && expected == 0; ++i) {
            const size_t taken = std::min<size_t>(lengths[i], m_pending[i]);
            if (Left() < m_pending[i]) {
                m_at = m_pipe.size();
                expected = PKERR_UNKNOWN;
            } else {
                Require(std::memcmp(areas[i], &m_pipe[m_at], taken) == 0);
                m_at += m_pending[i];
            }
        }
        m_pending.clear();
        Require(status == expected);
        RequireInStep();
    }

    void Flush() {
        const int status = m_lib.FlushMessageBuffers();
        Require(status == DropPending());
        RequireInStep();
    }

    // The model of dropping what is pending: a refused message's bytes,
    // then the data buffers. The status the library gives for it.
    int DropPending() {
        int expected = DropRefused();
        for (size_t i = 0; i < m_pending.size() && expected == 0; ++i) {
            if (Left() < m_pending[i]) {
                m_at = m_pipe.size();
                expected = PKERR_UNKNOWN;
            } else {
                m_at += m_pending[i];
            }
        }
        m_pending.clear();
        return expected;
    }

    int DropRefused() {
        const uint64_t refused = m_refused;
        m_refused = 0;
        if (Left() < refused) {
            m_at = m_pipe.size();
            return PKERR_UNKNOWN;
        }
        m_at += static_cast<size_t>(refused);
        return 0;
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
        if (m_runtimeRead < 0) {
            Require(status == PKERR_UNKNOWN);
            return;
        }
        Require(status == 0);
        std::vector<uint8_t> sent(total);
        Require(read(m_runtimeRead, sent.data(), total) == static_cast<ssize_t>(total));
        Require(std::memcmp(sent.data(), ZBHOST_FRAME_MAGIC, 4) == 0);
        Require(Word(sent, 4 + 24) == count + 1 && Word(sent, 4 + 28) == headerLen);
        Require(headerLen == 0 || std::memcmp(&sent[52], header.data(), headerLen) == 0);
    }

    void CloseRuntimeReader() {
        if (m_runtimeRead >= 0) {
            close(m_runtimeRead);
            m_runtimeRead = -1;
        }
    }

    const std::vector<uint8_t> m_pipe;
    FuzzedDataProvider m_input;
    size_t m_at = 0;
    std::vector<uint32_t> m_pending;
    uint64_t m_refused = 0;  // bytes a refused frame announced
    PK_REC_INFO m_info = {};
    uint8_t m_header[56];
    unsigned int m_headerLen = 0;
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

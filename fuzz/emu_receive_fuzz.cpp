// Feeds the emulator backend whatever the runtime could write to its pipe:
// bytes from the input's front go into the library's in-pipe, whose writing
// end is then closed, and the input's back chooses the calls: ReceiveMessage
// (header room from the input), ReceiveBuffers (lengths as announced or from
// the input) and FlushMessageBuffers, until the pipe is drained. A model of
// the frame stream tells the status of every call, and after every call the
// library must have taken from the pipe exactly what the model consumed,
// plus at most the bytes the current message still has pending (its
// read-ahead, never a byte of the next message). Caller areas are heap
// blocks of exactly their declared size for AddressSanitizer; what lands in
// them is left to the unit tests.
//
// Input (FuzzedDataProvider): the pipe length in the last two bytes, the
// pipe bytes from the front, the choices from the back. Runs in the sandbox:
// the pipe pair is a real FIFO pair under /dev.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "emu/pelklib_emu.h"
#include "fuzz/harness_support.h"
#include "tests/support/pipe_frames.h"
#include "wire/emulator_paths.h"

namespace {

constexpr int kPipeNumber = 1;

class EmuReceiveFuzz {
public:
    EmuReceiveFuzz(const uint8_t* data, size_t size)
        : m_input(data, size),  // at most what the default pipe capacity holds
          m_pipe(m_input.ConsumeBytes<uint8_t>(m_input.ConsumeIntegralInRange<size_t>(0, 60000))) {
        // The library's in-pipe holds the pipe bytes, its writer gone.
        const int reader =
            open(EmulatorPipe(ZBHOST_PIPE_IN_NAME, kPipeNumber).text, O_RDONLY | O_NONBLOCK);
        Require(reader >= 0 && m_lib.AttachPipes(kPipeNumber) == 0);
        const int writer =
            open(EmulatorPipe(ZBHOST_PIPE_OUT_NAME, kPipeNumber).text, O_WRONLY | O_NONBLOCK);
        Require(writer >= 0 && WriteAll(writer, m_pipe.data(), m_pipe.size()));
        close(writer);
        close(reader);
    }

    void Run() {
        // Once the choices run out, the caller receives on: it drains the
        // pipe, then finds its end.
        while (m_input.remaining_bytes() > 0 || Left() > 0) {
            switch (m_input.ConsumeIntegralInRange(0, 2)) {
                case 0: Receive(); break;
                case 1: ReceiveBuffers(); break;
                case 2: InStep(m_lib.FlushMessageBuffers(), Drop()); break;
            }
        }
        Receive();
    }

private:
    size_t Left() const { return m_pipe.size() - m_at; }

    // The library returned what the model expects and read from the pipe
    // what the model consumed, and ahead of it only what is still pending.
    void InStep(int status, int expected) {
        int waiting = -1;
        Require(status == expected && ioctl(m_lib.GetWaitHandle(), FIONREAD, &waiting) == 0 &&
                waiting >= 0 && static_cast<size_t>(waiting) <= Left() &&
                Left() - static_cast<size_t>(waiting) <= m_pending);
    }

    // The library reads the next length bytes, or up to the pipe's end when
    // they are not all there: whether they were.
    bool Read(uint64_t length) {
        const bool whole = length <= Left();
        m_at += whole ? length : Left();
        return whole;
    }

    // What the last message left pending is dropped first, then a frame is
    // read in one go, then exactly Buflen[0] bytes.
    void Receive() {
        const uint32_t room = m_input.ConsumeIntegralInRange(0u, 64u);
        std::vector<uint8_t> header(std::max(room, 1u));  // one byte for none
        unsigned int headerLen = 0xDEAD;
        const int status = m_lib.ReceiveMessage(&m_info, 0, room, header.data(), &headerLen);
        if (Drop() != PKERR_OK || !Read(ZBHOST_FRAME_LEN)) return InStep(status, PKERR_UNKNOWN);
        PK_MSG_DESC desc;  // the frame's last bytes
        std::memcpy(&desc, &m_pipe[m_at - sizeof desc], sizeof desc);
        const bool magic =
            std::memcmp(&m_pipe[m_at - ZBHOST_FRAME_LEN], ZBHOST_FRAME_MAGIC, 4) == 0;
        const bool sound = magic && desc.numbufs >= 1 && desc.numbufs <= 5;
        if (!sound) return InStep(status, PKERR_BAD_MESSAGE);
        // A sound descriptor with a header length out of range: everything
        // it announces is dropped later. A header cut short leaves nothing.
        const bool refused = desc.Buflen[0] == 0 || desc.Buflen[0] > PK_MAX_HEADER_LEN;
        if (!refused && !Read(desc.Buflen[0])) return InStep(status, PKERR_BAD_MESSAGE);
        for (uint32_t i = refused ? 0 : 1; i < desc.numbufs; ++i) m_pending += desc.Buflen[i];
        if (refused) return InStep(status, PKERR_BAD_MESSAGE);
        Require(headerLen == std::min(desc.Buflen[0], room));
        InStep(status, desc.Buflen[0] > room ? PKERR_DATA_LOST : PKERR_OK);
    }

    // Each length as the last message announced it, or the caller's own.
    void ReceiveBuffers() {
        unsigned int lengths[4];
        std::vector<uint8_t> buffers[4];
        void* areas[4];
        for (int i = 0; i < 4; ++i) {
            const bool announced = m_input.ConsumeBool() && m_info.bufLen[i] <= 4096;
            lengths[i] = announced ? m_info.bufLen[i] : m_input.ConsumeIntegralInRange(0u, 4096u);
            buffers[i].resize(std::max(lengths[i], 1u));
            areas[i] = buffers[i].data();
        }
        InStep(m_lib.ReceiveBuffers(lengths, areas), Drop());
    }

    // Drops the bytes the last message left pending: the status the library
    // gives for it.
    int Drop() { return Read(std::exchange(m_pending, 0)) ? PKERR_OK : PKERR_UNKNOWN; }

    FuzzedDataProvider m_input;
    const std::vector<uint8_t> m_pipe;
    size_t m_at = 0;          // how far the library has read
    uint64_t m_pending = 0;   // bytes the last message left in the pipe
    PK_REC_INFO m_info = {};  // what the last receive told the caller
    cPelkLib_Emu m_lib;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The backend reports every failure on standard output.
    Require(std::freopen("/dev/null", "w", stdout) != nullptr);
    mkfifo(EmulatorPipe(ZBHOST_PIPE_IN_NAME, kPipeNumber).text, 0600);
    mkfifo(EmulatorPipe(ZBHOST_PIPE_OUT_NAME, kPipeNumber).text, 0600);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EmuReceiveFuzz(data, size).Run();
    return 0;
}

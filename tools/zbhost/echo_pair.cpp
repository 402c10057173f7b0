#include "tools/zbhost/echo_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "tools/zbhost/fifo.h"
#include "wire/emulator_frame.h"
#include "wire/emulator_paths.h"

namespace {

// An echo board holds a whole message before answering; larger ones are
// refused as malformed.
constexpr uint64_t kMaxDataBytes = 16u * 1024u * 1024u;
// The least a pair's buffer holds: what a pipe holds, so that one read
// takes whatever the library has written of small messages.
constexpr size_t kLeastBufferBytes = 64 * 1024;

// A message's frame as it lies in the buffer (no alignment assumed).
PK_PIPE_FRAME FrameAt(const char* bytes) {
    PK_PIPE_FRAME frame;
    std::memcpy(&frame, bytes, sizeof frame);
    return frame;
}

uint64_t DataBytes(const PK_MSG_DESC& desc) {
    uint64_t bytes = 0;
    for (uint32_t i = 1; i < desc.numbufs; ++i) {
        bytes += desc.Buflen[i];
    }
    return bytes;
}

}  // namespace

EchoPair::~EchoPair() {
    std::free(m_buffer);
}

bool EchoPair::Create(int number, std::string* reason) {
    m_number = number;
    const std::string in = EmulatorPipe(ZBHOST_PIPE_IN_NAME, number).text;
    const std::string out = EmulatorPipe(ZBHOST_PIPE_OUT_NAME, number).text;
    if (!MakeFifo(in) || !MakeFifo(out)) {
        *reason = "cannot create pipe pair " + in + ": " + std::strerror(errno);
        Remove();
        return false;
    }
    // The library opens its out-pipe for writing first, then its in-pipe for
    // reading; both opens find their other end here. The runtime's write end
    // exists before the library reads, opened write-only (a reader held for
    // the moment lets that open succeed), so that the library's reading end
    // is seen coming and going: a pipe without readers polls as an error.
    m_from_library = OpenFifo(in, O_RDONLY);
    const int reader = OpenFifo(out, O_RDONLY);
    m_to_library = OpenFifo(out, O_WRONLY);
    if (reader != -1) close(reader);
    if (m_from_library == -1 || m_to_library == -1) {
        *reason = "cannot open pipe pair " + in + ": " + std::strerror(errno);
        Remove();
        return false;
    }
    return true;
}

void EchoPair::Remove() {
    if (m_from_library != -1) close(m_from_library);
    if (m_to_library != -1) close(m_to_library);
    m_from_library = m_to_library = -1;
    unlink(EmulatorPipe(ZBHOST_PIPE_IN_NAME, m_number).text);
    unlink(EmulatorPipe(ZBHOST_PIPE_OUT_NAME, m_number).text);
    std::free(m_buffer);
    m_buffer = nullptr;
    m_capacity = m_start = m_complete = m_end = m_next_length = 0;
    m_queued = m_queued_bytes = m_written = 0;
}

bool EchoPair::CheckOpenedByLibrary() {
    if (!m_opened) {
        pollfd readers = {m_to_library, POLLOUT, 0};
        m_opened = poll(&readers, 1, 0) == 1 && (readers.revents & POLLERR) == 0;
    }
    return m_opened;
}

// What an idle pair holds of a message it keeps, in a buffer just that
// large; a pair that holds nothing keeps no buffer.
bool EchoPair::ReleaseIfIdle() {
    if (m_buffer != nullptr && !m_read_since_release_check) {
        const size_t held = m_end - m_start;
        if (m_start > 0) {
            std::memmove(m_buffer, m_buffer + m_start, held);
            m_complete -= m_start;
            m_end = held;
            m_start = 0;
        }
        if (held == 0) {
            std::free(m_buffer);
            m_buffer = nullptr;
            m_capacity = m_complete = m_end = 0;
        } else if (char* shrunk = static_cast<char*>(std::realloc(m_buffer, held))) {
            m_buffer = shrunk;
            m_capacity = held;
        }
    }
    m_read_since_release_check = false;
    return m_buffer != nullptr;
}

EchoPair::Outcome EchoPair::OnReadable() {
    if (!MakeRoom()) {
        return Outcome::Malformed;
    }
    m_read_since_release_check = true;
    ssize_t got = read(m_from_library, m_buffer + m_end, m_capacity - m_end);
    if (got == 0) {
        return Outcome::ClosedByLibrary;
    }
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return Outcome::Open;
        }
        m_problem = std::string("read failed: ") + std::strerror(errno);
        return Outcome::Malformed;
    }
    m_end += static_cast<size_t>(got);
    if (!AnswerCompleteMessages()) {
        return Outcome::Malformed;
    }
    return OnWritable();
}

// Queued answers stay where they are; when the buffer's end is reached they
// move to its start, and it grows only when they and the next message do
// not fit (to just that size: a message does not grow it twice).
bool EchoPair::MakeRoom() {
    if (m_start == m_end) {
        m_start = m_complete = m_end = 0;
    }
    const size_t next = m_next_length != 0 ? m_next_length : ZBHOST_SEND_BLOCK_LEN;
    if (m_buffer != nullptr && m_capacity - m_complete >= next) {
        return true;
    }
    if (m_start > 0) {
        std::memmove(m_buffer, m_buffer + m_start, m_end - m_start);
        m_complete -= m_start;
        m_end -= m_start;
        m_start = 0;
    }
    if (m_buffer != nullptr && m_capacity - m_complete >= next) {
        return true;
    }
    size_t wanted = m_complete + next;
    wanted = wanted < kLeastBufferBytes ? kLeastBufferBytes : (wanted + 4095) / 4096 * 4096;
    char* grown = static_cast<char*>(std::realloc(m_buffer, wanted));
    if (grown == nullptr) {
        m_problem = "no memory for a message of " + std::to_string(next) + " bytes";
        return false;
    }
    m_buffer = grown;
    m_capacity = wanted;
    return true;
}

bool EchoPair::AnswerCompleteMessages() {
    m_next_length = 0;
    while (m_end - m_complete >= ZBHOST_SEND_BLOCK_LEN) {
        PK_PIPE_FRAME frame = FrameAt(m_buffer + m_complete);
        const PK_MSG_DESC& desc = frame.desc;
        if (std::memcmp(frame.magic, ZBHOST_FRAME_MAGIC, sizeof frame.magic) != 0) {
            m_problem = "malformed frame from the library: bad magic";
            return false;
        }
        if (desc.numbufs < 1 || desc.numbufs > 1 + PK_MAX_DATA_BUFFERS) {
            m_problem = "malformed frame from the library: numbufs " + std::to_string(desc.numbufs);
            return false;
        }
        if (desc.Buflen[0] > PK_MAX_HEADER_LEN) {
            m_problem =
                "malformed frame from the library: header length " + std::to_string(desc.Buflen[0]);
            return false;
        }
        for (uint32_t i = desc.numbufs; i <= PK_MAX_DATA_BUFFERS; ++i) {
            if (desc.Buflen[i] != 0) {
                m_problem = "malformed frame from the library: length beyond numbufs";
                return false;
            }
        }
        const uint64_t dataBytes = DataBytes(desc);
        if (dataBytes > kMaxDataBytes) {
            m_problem = "message of " + std::to_string(dataBytes) + " data bytes exceeds " +
                        std::to_string(kMaxDataBytes);
            return false;
        }
        const size_t whole = ZBHOST_SEND_BLOCK_LEN + static_cast<size_t>(dataBytes);
        if (m_end - m_complete < whole) {
            m_next_length = whole;
            break;
        }
        // The answer's frame replaces the message's, where it lies.
        PK_PIPE_FRAME answer = frame;
        answer.desc.srcAddr1 = desc.dstAddr1;
        answer.desc.dstAddr1 = desc.srcAddr1;
        answer.desc.srcAddr2 = desc.dstAddr2;
        answer.desc.dstAddr2 = desc.srcAddr2;
        std::memcpy(m_buffer + m_complete, &answer, sizeof answer);
        ++m_queued;
        m_queued_bytes += ZBHOST_FRAME_LEN + desc.Buflen[0] + static_cast<size_t>(dataBytes);
        m_complete += whole;
    }
    return true;
}

// An answer is its frame with the header right behind it, then the data,
// which lies behind the message's 56-byte header area. The first write of
// an answer is at most PIPE_BUF bytes, which a pipe takes whole or not at
// all, so the frame always arrives in one piece and the library reads it
// with a single read.
EchoPair::Outcome EchoPair::OnWritable() {
    while (m_queued > 0) {
        const PK_MSG_DESC desc = FrameAt(m_buffer + m_start).desc;
        const size_t headed = ZBHOST_FRAME_LEN + desc.Buflen[0];
        const size_t data = static_cast<size_t>(DataBytes(desc));
        struct iovec parts[2] = {{m_buffer + m_start, headed},
                                 {m_buffer + m_start + ZBHOST_SEND_BLOCK_LEN, data}};
        size_t skip = m_written;
        int first = 0;
        if (skip >= headed) {
            skip -= headed;
            first = 1;
        }
        parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + skip;
        parts[first].iov_len -= skip;
        if (m_written == 0 && headed + data > PIPE_BUF) {
            parts[1].iov_len = PIPE_BUF - headed;
        }
        const ssize_t written = writev(m_to_library, parts + first, 2 - first);
        if (written < 0 && errno == EPIPE) {
            return Outcome::ClosedByLibrary;
        }
        if (written <= 0) {
            return Outcome::Open;  // pipe full: wait for room
        }
        m_written += static_cast<size_t>(written);
        if (m_written == headed + data) {
            m_start += ZBHOST_SEND_BLOCK_LEN + data;
            m_queued_bytes -= headed + data;
            --m_queued;
            m_written = 0;
        }
    }
    return Outcome::Open;
}

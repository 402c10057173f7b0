#include "tools/zbhost/echo_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstring>

#include "tools/zbhost/fifo.h"
#include "wire/emulator_frame.h"
#include "wire/emulator_paths.h"

namespace {

// An echo board holds a whole message before answering; larger ones are
// refused as malformed.
constexpr uint64_t kMaxDataBytes = 16u * 1024u * 1024u;
// Input left over after answering keeps at most this much spare room.
constexpr size_t kSpareInputBytes = 64 * 1024;

}  // namespace

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
    std::deque<std::string>().swap(m_answers);
    m_answer_offset = 0;
    m_answer_bytes = 0;
    std::vector<char>().swap(m_input);
}

bool EchoPair::CheckOpenedByLibrary() {
    if (!m_opened) {
        pollfd readers = {m_to_library, POLLOUT, 0};
        m_opened = poll(&readers, 1, 0) == 1 && (readers.revents & POLLERR) == 0;
    }
    return m_opened;
}

EchoPair::Outcome EchoPair::OnReadable() {
    char chunk[64 * 1024];
    ssize_t got = read(m_from_library, chunk, sizeof chunk);
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
    m_input.insert(m_input.end(), chunk, chunk + got);
    if (!AnswerCompleteMessages()) {
        return Outcome::Malformed;
    }
    return OnWritable();
}

bool EchoPair::AnswerCompleteMessages() {
    size_t consumed = 0;
    while (m_input.size() - consumed >= ZBHOST_SEND_BLOCK_LEN) {
        PK_PIPE_FRAME frame;
        std::memcpy(&frame, m_input.data() + consumed, sizeof frame);
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
        uint64_t dataBytes = 0;
        for (uint32_t i = 1; i < desc.numbufs; ++i) {
            dataBytes += desc.Buflen[i];
        }
        for (uint32_t i = desc.numbufs; i <= PK_MAX_DATA_BUFFERS; ++i) {
            if (desc.Buflen[i] != 0) {
                m_problem = "malformed frame from the library: length beyond numbufs";
                return false;
            }
        }
        if (dataBytes > kMaxDataBytes) {
            m_problem = "message of " + std::to_string(dataBytes) + " data bytes exceeds " +
                        std::to_string(kMaxDataBytes);
            return false;
        }
        const size_t whole = ZBHOST_SEND_BLOCK_LEN + static_cast<size_t>(dataBytes);
        if (m_input.size() - consumed < whole) {
            if (consumed == 0) {
                m_input.reserve(whole);  // grows once, not by doubling
            }
            break;
        }

        PK_PIPE_FRAME answer = frame;
        answer.desc.srcAddr1 = desc.dstAddr1;
        answer.desc.dstAddr1 = desc.srcAddr1;
        answer.desc.srcAddr2 = desc.dstAddr2;
        answer.desc.dstAddr2 = desc.srcAddr2;
        const char* header = m_input.data() + consumed + ZBHOST_FRAME_LEN;
        const char* data = m_input.data() + consumed + ZBHOST_SEND_BLOCK_LEN;
        std::string bytes;
        bytes.reserve(ZBHOST_FRAME_LEN + desc.Buflen[0] + dataBytes);
        bytes.append(reinterpret_cast<const char*>(&answer), sizeof answer);
        bytes.append(header, desc.Buflen[0]);
        bytes.append(data, static_cast<size_t>(dataBytes));
        m_answer_bytes += bytes.size();
        m_answers.push_back(std::move(bytes));
        consumed += whole;
    }
    if (consumed == 0) {
        return true;
    }
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(consumed));
    // Give back the room of messages answered (it may be megabytes).
    if (m_input.capacity() > m_input.size() + kSpareInputBytes) {
        m_input.shrink_to_fit();
    }
    return true;
}

// The first piece of every answer is written with at most PIPE_BUF bytes,
// which a pipe takes whole or not at all, so the frame always arrives in
// one piece and the library reads it with a single read.
EchoPair::Outcome EchoPair::OnWritable() {
    while (!m_answers.empty()) {
        const std::string& answer = m_answers.front();
        size_t length = answer.size() - m_answer_offset;
        if (m_answer_offset == 0 && length > PIPE_BUF) {
            length = PIPE_BUF;
        }
        ssize_t written = write(m_to_library, answer.data() + m_answer_offset, length);
        if (written < 0 && errno == EPIPE) {
            return Outcome::ClosedByLibrary;
        }
        if (written <= 0) {
            return Outcome::Open;  // pipe full: wait for room
        }
        m_answer_offset += static_cast<size_t>(written);
        if (m_answer_offset == answer.size()) {
            m_answer_bytes -= answer.size();
            m_answers.pop_front();
            m_answer_offset = 0;
        }
    }
    return Outcome::Open;
}

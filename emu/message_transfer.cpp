// cPelkLib_Emu: messages over the pipe pair, each a 52-byte frame, the
// header buffer and the data buffers.
#include <cstring>

#include "emu/dprint.h"
#include "emu/pelklib_emu.h"
#include "wire/emulator_frame.h"
#include "wire/message_descriptor.h"

int cPelkLib_Emu::SendMessage(const PK_SEND_INFO* info, const void* header, unsigned int headerLen,
                              unsigned int bufCount, void** buffers, unsigned int* lengths) {
    if (bufCount > PK_MAX_DATA_BUFFERS) {
        return PKERR_BUFCOUNT;
    }
    if (header == nullptr && headerLen != 0) {
        return PKERR_NO_MESSAGE;
    }
    if (headerLen > PK_MAX_HEADER_LEN) {
        return PKSTATUS_HEADER_TOO_LONG;
    }

    char block[ZBHOST_SEND_BLOCK_LEN] = {};
    PK_PIPE_FRAME frame;
    std::memcpy(frame.magic, ZBHOST_FRAME_MAGIC, sizeof frame.magic);
    frame.desc = SendDescriptor(*info, headerLen, bufCount, lengths);
    frame.desc.srcAddr1 = ZBHOST_SENDER_ADDRESS;
    std::memcpy(block, &frame, sizeof frame);
    if (header != nullptr && headerLen > 0) {
        std::memcpy(block + sizeof frame, header, headerLen);
    }

    struct iovec parts[1 + PK_MAX_DATA_BUFFERS] = {{block, sizeof block}};
    for (unsigned int i = 0; i < bufCount; ++i) {
        parts[1 + i] = {buffers[i], lengths[i]};
    }
    return WriteMessage(parts, 1 + static_cast<int>(bufCount));
}

int cPelkLib_Emu::SendPelkorMessage(const _PELKOR_MSG_HEADER* header, unsigned int dstAddr1,
                                    unsigned int dstAddr2, unsigned int tag, unsigned int bufCount,
                                    void** buffers, unsigned int* lengths) {
    PK_SEND_INFO info;
    info.type = 1;
    info.reserved1 = 0;
    info.reserved2 = 0;
    info.dstAddr1 = dstAddr1;
    info.dstAddr2 = dstAddr2;
    info.tag = tag;
    return SendMessage(&info, header, sizeof *header, bufCount, buffers, lengths);
}

int cPelkLib_Emu::ReceiveMessage(PK_REC_INFO* info, unsigned int timeoutMs, unsigned int capacity,
                                 void* header, unsigned int* headerLen) {
    if (!m_pipes_inuse) {
        return PKERR_NOT_OPEN;
    }
    // What the previous message still has in the pipe comes before the
    // next frame: it is dropped, never read as a frame.
    int status = FlushMessageBuffers();
    if (status != 0) {
        return status;
    }
    PK_PIPE_FRAME frame;
    status =
        WaitForMessage(static_cast<int>(timeoutMs), sizeof frame, reinterpret_cast<char*>(&frame));
    if (status == 1) {
        return PKERR_TIMEOUT;
    }
    if (status != 0) {
        return status;
    }

    const PK_MSG_DESC& desc = frame.desc;
    if (std::memcmp(frame.magic, ZBHOST_FRAME_MAGIC, sizeof frame.magic) != 0) {
        dprint("ReceiveMessage: ERROR - PIPE OUT OF SYNC\n");
        return PKERR_BAD_MESSAGE;
    }
    if (desc.numbufs == 0 || desc.numbufs > 1 + PK_MAX_DATA_BUFFERS) {
        dprint("ReceiveMessage: numbufs is %d\n", static_cast<int>(desc.numbufs));
        return PKERR_BAD_MESSAGE;
    }
    if (desc.Buflen[0] > PK_MAX_HEADER_LEN) {
        dprint("ReceiveMessage: Buflen[0]= %d is too large, greater than any message header "
               "(max %d)\n",
               static_cast<int>(desc.Buflen[0]), PK_MAX_HEADER_LEN);
        LeaveRefusedPending(desc);
        return PKERR_BAD_MESSAGE;
    }
    if (desc.Buflen[0] == 0) {
        dprint("ReceiveMessage: Buflen[0]=0, should be msg header\n");
        LeaveRefusedPending(desc);
        return PKERR_BAD_MESSAGE;
    }

    // The header comes with as much of the data as the read-ahead holds,
    // never more than this message has.
    uint64_t rest = desc.Buflen[0];
    for (uint32_t i = 1; i < desc.numbufs; ++i) {
        rest += desc.Buflen[i];
    }
    if (ReadAhead(desc.Buflen[0], rest) != 0) {
        dprint("ReceiveMessage: Failed to receive message header buffer\n");
        return PKERR_BAD_MESSAGE;
    }
    const char* received = m_ahead + m_ahead_start;
    m_ahead_start += desc.Buflen[0];
    if (m_ahead_start == m_ahead_end) {
        m_ahead_start = m_ahead_end = 0;
    }
    unsigned int copied = desc.Buflen[0];
    int result = 0;
    if (copied > capacity) {
        copied = capacity;
        result = PKERR_DATA_LOST;
    }
    if (copied > 0) {
        std::memcpy(header, received, copied);
    }
    *headerLen = copied;

    FillReceiveInfo(desc, info);
    m_pending_count = desc.numbufs - 1;
    for (unsigned int i = 0; i < m_pending_count; ++i) {
        m_pending_len[i] = desc.Buflen[1 + i];
    }
    return result;
}

int cPelkLib_Emu::ReceivePelkorMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                                       _PELKOR_MSG_HEADER* header) {
    unsigned int length = 0;
    return ReceiveMessage(info, timeoutMs, sizeof *header, header, &length);
}

int cPelkLib_Emu::ReceiveBuffers(unsigned int* lengths, void** buffers) {
    return TakePendingBuffers(lengths, buffers);
}

int cPelkLib_Emu::FlushMessageBuffers() {
    static const unsigned int kNone[PK_MAX_DATA_BUFFERS] = {0, 0, 0, 0};
    return TakePendingBuffers(kNone, nullptr);
}

// A refused frame whose descriptor is sound still says how many bytes
// follow it: they are left pending, to be dropped, so that the stream
// stays in step.
void cPelkLib_Emu::LeaveRefusedPending(const PK_MSG_DESC& desc) {
    m_pending_skip = 0;
    for (uint32_t i = 0; i < desc.numbufs; ++i) {
        m_pending_skip += desc.Buflen[i];
    }
}

// The bytes of a refused message are dropped first. Each pending buffer
// gives the caller at most the bytes it announced, and what the caller's
// length leaves is dropped: a caller's lengths never read into the next
// message nor leave part of this one in the pipe. Buffers taken one after
// another are read together. Nothing is pending afterwards, whatever the
// outcome.
int cPelkLib_Emu::TakePendingBuffers(const unsigned int* lengths, void** buffers) {
    const uint64_t refused = m_pending_skip;
    m_pending_skip = 0;
    if (refused > 0) {
        const int status = DiscardPending(refused);
        if (status != 0) {
            m_pending_count = 0;
            return status;
        }
    }
    int status = 0;
    struct iovec parts[PK_MAX_DATA_BUFFERS];
    int count = 0;
    for (unsigned int i = 0; status == 0 && i < m_pending_count; ++i) {
        const uint32_t announced = m_pending_len[i];
        const uint32_t taken = lengths[i] < announced ? lengths[i] : announced;
        if (taken != 0) {
            parts[count++] = {buffers[i], taken};
        }
        if (announced > taken) {
            status = ReadInto(parts, count);
            count = 0;
            if (status == 0) {
                status = DiscardPending(announced - taken);
            }
        }
    }
    if (status == 0) {
        status = ReadInto(parts, count);
    }
    if (status != 0) {
        dprint("ReadBuffer FAILED, error %d\n", status);
    }
    m_pending_count = 0;
    return status;
}

// Reads and drops length bytes of the in-pipe through a small block on the
// stack, so no announced length decides how much memory is taken.
int cPelkLib_Emu::DiscardPending(uint64_t length) {
    char block[4096];
    int status = 0;
    for (uint64_t left = length; status == 0 && left > 0;) {
        const unsigned int piece =
            left < sizeof block ? static_cast<unsigned int>(left) : sizeof block;
        struct iovec part = {block, piece};
        status = ReadInto(&part, 1);
        left -= piece;
    }
    return status;
}

// cPelkLib_Remote: sending through pelkd's object, and receiving the
// messages it pushed. A received message is here whole, so its data buffers
// are handed out as the driver's own object would: the kernel driver's as
// one byte stream (the first zero length ends the list, a length beyond what
// is left gives -4), the emulator's buffer by buffer (each cut to its
// length).
#include <algorithm>
#include <climits>
#include <cstring>

#include "protocol/pelk_protocol.h"
#include "remote/connection.h"
#include "remote/pelklib_remote.h"
#include "remote/session_stream.h"
#include "services/pelk_log.h"
#include "wire/pelkor_header.h"

namespace {

// The statuses with which a message has arrived and the header is delivered.
bool Arrived(int status) {
    return status == PKERR_OK || status == PKERR_DATA_LOST || status == PKERR_WRONG_BUFSIZE;
}

void FillInfo(const pelk::v1::Message& message, PK_REC_INFO* info) {
    info->type = message.type();
    info->srcAddr1 = message.src_addr1();
    info->srcAddr2 = message.src_addr2();
    info->tag = message.tag();
    for (int i = 0; i < PK_MAX_DATA_BUFFERS; ++i) {
        info->bufLen[i] = i < message.lengths_size() ? message.lengths(i) : 0;
    }
}

// The kernel driver's way: the data is one stream, taken in the caller's
// lengths up to the first zero one.
int TakeAsStream(const pelk::v1::Message& message, const unsigned int* lengths, void** buffers) {
    int piece = 0;
    size_t offset = 0;
    for (int i = 0; i < PK_MAX_DATA_BUFFERS && lengths[i] != 0; ++i) {
        size_t wanted = lengths[i];
        char* target = static_cast<char*>(buffers[i]);
        while (wanted > 0 && piece < message.buffers_size()) {
            const std::string& data = message.buffers(piece);
            const size_t taken = std::min(wanted, data.size() - offset);
            std::memcpy(target, data.data() + offset, taken);
            target += taken;
            wanted -= taken;
            offset += taken;
            if (offset == data.size()) {
                ++piece;
                offset = 0;
            }
        }
        if (wanted > 0) {
            return PKERR_BAD_MESSAGE;
        }
    }
    return PKERR_OK;
}

// The emulator's way: each buffer gets at most its announced bytes.
void TakeBufferByBuffer(const pelk::v1::Message& message, const unsigned int* lengths,
                        void** buffers) {
    for (int i = 0; i < message.buffers_size() && i < PK_MAX_DATA_BUFFERS; ++i) {
        const std::string& data = message.buffers(i);
        const size_t taken = std::min<size_t>(lengths[i], data.size());
        if (taken > 0) {
            std::memcpy(buffers[i], data.data(), taken);
        }
    }
}

}  // namespace

int cPelkLib_Remote::ReceiveMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                                    unsigned int capacity, void* header, unsigned int* headerLen) {
    if (m_session == nullptr) {
        return PKERR_NOT_OPEN;
    }
    if (m_current != nullptr) {
        if (AsKernelDriver()) {
            return PKERR_SEQUENCE_ERROR;
        }
        m_current.reset();
    }
    if (m_receive_failed != 0) {
        return m_receive_failed;
    }
    const long long wait = timeoutMs > INT_MAX ? -1 : static_cast<long long>(timeoutMs);
    switch (m_session->WaitForMessage(wait)) {
        case SessionStream::Wait::TimedOut: return PKERR_TIMEOUT;
        case SessionStream::Wait::Ended:
            ReportEnd("ReceiveMessage", m_session->EndReason());
            return PKERR_NOT_OPEN;
        case SessionStream::Wait::Message: break;
    }
    std::unique_ptr<pelk::v1::Message> message = m_session->TakeMessage();
    const int status = message->status();
    if (!Arrived(status)) {
        if (message->closes()) {
            m_receive_failed = status;
        }
        return status;
    }
    const std::string& bytes = message->header();
    const size_t copied = std::min<size_t>(bytes.size(), capacity);
    if (copied > 0) {
        std::memcpy(header, bytes.data(), copied);
    }
    *headerLen = static_cast<unsigned int>(copied);
    FillInfo(*message, info);
    int result = status;
    if (status == PKERR_OK && bytes.size() > capacity) {
        result = PKERR_DATA_LOST;
    }
    if (status == PKERR_OK && message->lengths_size() > 0) {
        m_current = std::move(message);
    }
    return result;
}

int cPelkLib_Remote::ReceivePelkorMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                                          _PELKOR_MSG_HEADER* header) {
    unsigned int length = 0;
    const int status = ReceiveMessage(info, timeoutMs, sizeof *header, header, &length);
    if (status == PKERR_OK && AsKernelDriver()) {
        PelkorHeaderFromLittleEndian(header);
    }
    return status;
}

int cPelkLib_Remote::ReceiveBuffers(unsigned int* lengths, void** buffers) {
    if (m_session == nullptr) {
        return PKERR_NOT_OPEN;
    }
    if (m_current == nullptr) {
        return AsKernelDriver() ? PKERR_SEQUENCE_ERROR : PKERR_OK;
    }
    const std::unique_ptr<pelk::v1::Message> message = std::move(m_current);
    if (message->buffers_status() != PKERR_OK) {
        return message->buffers_status();
    }
    if (AsKernelDriver()) {
        return TakeAsStream(*message, lengths, buffers);
    }
    TakeBufferByBuffer(*message, lengths, buffers);
    return PKERR_OK;
}

int cPelkLib_Remote::FlushMessageBuffers() {
    if (m_session == nullptr) {
        return PKERR_NOT_OPEN;
    }
    m_current.reset();
    return PKERR_OK;
}

int cPelkLib_Remote::SendMessage(const PK_SEND_INFO* info, const void* header,
                                 unsigned int headerLen, unsigned int bufCount, void** buffers,
                                 unsigned int* lengths) {
    if (bufCount > PK_MAX_DATA_BUFFERS) {
        return PKERR_BUFCOUNT;
    }
    if (m_session == nullptr) {
        return PKERR_NOT_OPEN;
    }
    if (header == nullptr && headerLen != 0) {
        return PKERR_NO_MESSAGE;
    }
    // The emulator takes headers of up to 56 bytes, the kernel driver up to
    // the size given to Open.
    const unsigned int room = AsKernelDriver() ? std::max(m_size, 56u) : PK_MAX_HEADER_LEN;
    if (headerLen > room) {
        return PKSTATUS_HEADER_TOO_LONG;
    }
    uint64_t data = 0;
    for (unsigned int i = 0; i < bufCount; ++i) {
        data += lengths[i];
    }
    if (data > kMaxMessageData) {
        PelkLog("SendMessage: %llu data bytes are more than the %u a remote message carries\n",
                static_cast<unsigned long long>(data), kMaxMessageData);
        return PKERR_WRONG_BUFSIZE;
    }
    pelk::v1::SessionRequest request;
    pelk::v1::Send* send = request.mutable_send();
    send->set_type(info->type);
    send->set_dst_addr1(info->dstAddr1);
    send->set_dst_addr2(info->dstAddr2);
    send->set_tag(info->tag);
    if (headerLen > 0) {
        send->set_header(header, headerLen);
    }
    for (unsigned int i = 0; i < bufCount; ++i) {
        std::string* buffer = send->add_buffers();
        if (lengths[i] > 0) {
            buffer->assign(static_cast<const char*>(buffers[i]), lengths[i]);
        }
    }
    return StatusOf("SendMessage", request);
}

int cPelkLib_Remote::SendPelkorMessage(const _PELKOR_MSG_HEADER* header, unsigned int dstAddr1,
                                       unsigned int dstAddr2, unsigned int tag,
                                       unsigned int bufCount, void** buffers,
                                       unsigned int* lengths) {
    const PK_SEND_INFO info = {1, 0, 0, dstAddr1, dstAddr2, tag};
    if (header == nullptr || !AsKernelDriver()) {
        return SendMessage(&info, header, sizeof *header, bufCount, buffers, lengths);
    }
    _PELKOR_MSG_HEADER wire;
    PelkorHeaderToLittleEndian(*header, &wire);
    return SendMessage(&info, &wire, sizeof wire, bufCount, buffers, lengths);
}

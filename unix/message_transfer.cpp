// cPelkLib_Unix: sending and receiving board messages through the driver.
#include <poll.h>
#include <cerrno>
#include <cstring>

#include "services/pxi.h"
#include "unix/pelklib.h"
#include "wire/message_descriptor.h"
#include "wire/pelkor_header.h"

int cPelkLib_Unix::ReceiveMessage(PK_REC_INFO* info, unsigned int timeoutMs, unsigned int capacity,
                                  void* header, unsigned int* headerLen) {
    // Not open counts as out of sequence too, also after FlushMessageBuffers
    // made an unopened object idle: poll would otherwise wait on no device.
    if (!m_rx_idle || m_fd == -1) {
        return PKERR_SEQUENCE_ERROR;
    }
    if (!WaitForEvent(POLLIN, timeoutMs)) {
        return PKERR_TIMEOUT;
    }

    // The driver may deliver up to the request word: never more than the
    // receive buffer holds.
    const unsigned int room = m_buf_size - ZB5T_DESC_LEN;
    const uint32_t wanted = (capacity < room ? capacity : room) + ZB5T_DESC_LEN;
    int status = Ioctl_Unix(ZB5T_RECEIVE_START, &wanted, sizeof wanted, m_rx_buf.get(), m_buf_size,
                            &m_rx_len);
    if (status != PKERR_OK) {
        return status;
    }
    if (m_rx_len == 0) {
        return PKERR_NO_MESSAGE;
    }
    if (m_rx_len < ZB5T_DESC_LEN || m_rx_len > wanted) {
        return PKERR_BAD_MESSAGE;
    }

    PK_MSG_DESC desc;
    std::memcpy(&desc, m_rx_buf.get(), sizeof desc);
    FillReceiveInfo(desc, info);
    if (desc.numbufs == 0 || desc.numbufs > 1 + PK_MAX_DATA_BUFFERS) {
        return PKERR_BAD_MESSAGE;
    }
    m_rx_idle = false;

    const uint32_t available = m_rx_len - ZB5T_DESC_LEN;
    const uint32_t headerBytes = desc.Buflen[0] < available ? desc.Buflen[0] : available;
    uint32_t copied = headerBytes;
    int result = PKERR_OK;
    if (capacity < headerBytes) {
        copied = capacity;
        result = PKERR_DATA_LOST;
    }
    if (copied > 0) {
        std::memcpy(header, m_rx_buf.get() + ZB5T_DESC_LEN, copied);
    }
    *headerLen = copied;

    if (desc.Buflen[0] > available) {
        FlushMessageBuffers();
        m_rx_idle = true;
        return PKERR_DATA_LOST;
    }
    if (desc.numbufs == 1) {
        if (available > desc.Buflen[0]) {
            result = PKERR_WRONG_BUFSIZE;
        }
        m_rx_idle = true;
        return result;
    }
    m_rx_pending = available - desc.Buflen[0];
    return result;
}

int cPelkLib_Unix::ReceivePelkorMessage(PK_REC_INFO* info, unsigned int timeoutMs,
                                        _PELKOR_MSG_HEADER* header) {
    unsigned int length = 0;
    int status = ReceiveMessage(info, timeoutMs, sizeof *header, header, &length);
    if (status != PKERR_OK) {
        return status;
    }
    PelkorHeaderFromLittleEndian(header);
    return PKERR_OK;
}

// Hands out the data bytes that came with the first request, then asks the
// driver for the rest of each buffer straight into the caller's memory. The
// first zero length ends the list. A buffer the driver fills with fewer (or
// more) bytes than asked is a bad message: the rest is discarded and the
// caller gets -4, never stale bytes reported as received.
int cPelkLib_Unix::ReceiveBuffers(unsigned int* lengths, void** buffers) {
    if (m_rx_idle) {
        return PKERR_SEQUENCE_ERROR;
    }
    int status = PKERR_OK;
    for (unsigned int i = 0; i < PK_MAX_DATA_BUFFERS; ++i) {
        uint32_t wanted = lengths[i];
        if (wanted == 0) {
            break;
        }
        uint8_t* target = static_cast<uint8_t*>(buffers[i]);
        if (m_rx_pending > 0) {
            uint32_t taken = wanted < m_rx_pending ? wanted : m_rx_pending;
            std::memcpy(target, m_rx_buf.get() + (m_rx_len - m_rx_pending), taken);
            m_rx_pending -= taken;
            wanted -= taken;
            target += taken;
            if (wanted == 0) {
                continue;
            }
        }
        status = Ioctl_Unix(ZB5T_RECEIVE_PART, &wanted, sizeof wanted, target, wanted, &m_rx_len);
        if (status == PKERR_OK && m_rx_len != wanted) {
            status = PKERR_BAD_MESSAGE;  // the message is shorter than announced
        }
        if (status != PKERR_OK) {
            break;
        }
    }
    if (status != PKERR_OK) {
        FlushMessageBuffers();
    }
    m_rx_idle = true;
    m_rx_pending = 0;
    return status;
}

int cPelkLib_Unix::FlushMessageBuffers() {
    m_rx_idle = true;
    m_rx_len = 0;
    m_rx_pending = 0;
    return Ioctl_Unix(ZB5T_DISCARD_REST, nullptr, 0, nullptr, 0, nullptr);
}

int cPelkLib_Unix::SendWithBusyRetry(const PK_SEND_REQUEST& request) {
    for (;;) {
        int status = Ioctl_Unix(ZB5T_SEND, &request, sizeof request, nullptr, 0, nullptr);
        if (status != PKERR_UNKNOWN || GetError() != EBUSY) {
            return status;
        }
        uint32_t remaining = ZB5T_BUSY_WAIT_MS;
        while (remaining != 0 && remaining <= ZB5T_BUSY_WAIT_MS) {
            remaining = pxiSleepMs(remaining);
        }
    }
}

int cPelkLib_Unix::SendMessage(const PK_SEND_INFO* info, const void* header, unsigned int headerLen,
                               unsigned int bufCount, void** buffers, unsigned int* lengths) {
    if (bufCount > PK_MAX_DATA_BUFFERS) {
        return PKERR_BUFCOUNT;
    }
    const PK_MSG_DESC desc = SendDescriptor(*info, headerLen, bufCount, lengths);
    if (m_tx_buf == nullptr) {
        return PKERR_NOT_OPEN;
    }
    if (header == nullptr && headerLen != 0) {
        return PKERR_NO_MESSAGE;
    }
    std::memcpy(m_tx_buf.get(), &desc, sizeof desc);
    if (header != nullptr) {
        if (headerLen > m_buf_size - ZB5T_DESC_LEN) {
            return PKSTATUS_HEADER_TOO_LONG;
        }
        std::memcpy(m_tx_buf.get() + ZB5T_DESC_LEN, header, headerLen);
    }

    PK_SEND_REQUEST block = {reinterpret_cast<uintptr_t>(m_tx_buf.get()), 0,
                             headerLen + ZB5T_DESC_LEN, 0};
    int status = SendWithBusyRetry(block);
    if (status != PKERR_OK) {
        return status;
    }
    for (unsigned int i = 0; i < bufCount; ++i) {
        if (lengths[i] == 0) {
            continue;
        }
        PK_SEND_REQUEST data = {0, reinterpret_cast<uintptr_t>(buffers[i]), 0, lengths[i]};
        status = SendWithBusyRetry(data);
        if (status != PKERR_OK) {
            return status;
        }
    }
    return PKERR_OK;
}

int cPelkLib_Unix::SendPelkorMessage(const _PELKOR_MSG_HEADER* header, unsigned int dstAddr1,
                                     unsigned int dstAddr2, unsigned int tag, unsigned int bufCount,
                                     void** buffers, unsigned int* lengths) {
    PK_SEND_INFO info = {1, 0, 0, dstAddr1, dstAddr2, tag};
    if (header == nullptr) {
        // Refused by SendMessage's own checks, in their order.
        return SendMessage(&info, nullptr, sizeof *header, bufCount, buffers, lengths);
    }
    _PELKOR_MSG_HEADER wire;
    PelkorHeaderToLittleEndian(*header, &wire);
    return SendMessage(&info, &wire, sizeof wire, bufCount, buffers, lengths);
}

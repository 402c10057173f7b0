#include "tests/support/sim_driver.h"

#include <fcntl.h>
#include <algorithm>
#include <cerrno>
#include <cstdarg>

using driver_stream::Word;

namespace {

SimDriver* s_active = nullptr;

PK_SEND_REQUEST SendRequest(const uint8_t* area) {
    PK_SEND_REQUEST send;
    std::memcpy(&send, area, sizeof send);
    return send;
}

// The bytes a send request hands over by address.
const uint8_t* SentBytes(const PK_SEND_REQUEST& send) {
    return reinterpret_cast<const uint8_t*>(send.blockLen != 0 ? send.blockAddr : send.bufferAddr);
}

}  // namespace

SimDriver::SimDriver() : m_saved(g_unixSystemCalls), m_ring(kRingSlots) {
    s_active = this;
    g_unixSystemCalls = {Open, Fcntl, Close, Ioctl, Poll};
}

SimDriver::~SimDriver() {
    g_unixSystemCalls = m_saved;
    s_active = nullptr;
}

void SimDriver::Queue(std::vector<uint8_t> stream) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_queued < kRingSlots) {
        std::swap(m_ring[(m_head + m_queued++) % kRingSlots], stream);
    }
}

// Descriptors are numbered upwards from the highest one open.
int SimDriver::NextFd(int from) const {
    return openFds.empty() ? from : std::max(from, *openFds.rbegin() + 1);
}

int SimDriver::Open(const char*, int flags, ...) {
    SimDriver& sim = *s_active;
    std::lock_guard<std::mutex> hold(sim.m_lock);
    sim.openFlags = flags;
    if (sim.openError != 0) {
        errno = sim.openError;
        return -1;
    }
    const int fd = sim.NextFd(3);
    sim.openFds.insert(fd);
    return fd;
}

int SimDriver::Fcntl(int fd, int cmd, ...) {
    va_list args;
    va_start(args, cmd);
    const int minimum = va_arg(args, int);
    va_end(args);
    SimDriver& sim = *s_active;
    std::lock_guard<std::mutex> hold(sim.m_lock);
    sim.dupCommand = cmd;
    if (sim.dupError != 0 || sim.openFds.count(fd) == 0) {
        errno = sim.dupError != 0 ? sim.dupError : EBADF;
        return -1;
    }
    const int copy = sim.NextFd(minimum);
    sim.openFds.insert(copy);
    return copy;
}

int SimDriver::Close(int fd) {
    SimDriver& sim = *s_active;
    std::lock_guard<std::mutex> hold(sim.m_lock);
    if (sim.openFds.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

// The backend polls its one descriptor.
int SimDriver::Poll(struct pollfd* fds, nfds_t, int timeoutMs) {
    SimDriver& sim = *s_active;
    std::unique_lock<std::mutex> hold(sim.m_lock);
    if (sim.record) {
        sim.pollTimeouts.push_back(timeoutMs);
    }
    if (sim.pollInterrupts > 0) {
        --sim.pollInterrupts;
        errno = EINTR;
        return -1;
    }
    fds->revents = sim.extraEvents;
    if ((fds->events & POLLIN) && sim.m_queued > 0) {
        fds->revents |= POLLIN;
    }
    if ((fds->events & POLLOUT) && sim.boardReady) {
        fds->revents |= sim.readyEvents;
    }
    if (fds->revents == 0 && sim.pollSleeps) {
        hold.unlock();
        return ::poll(nullptr, 0, timeoutMs);  // a signal ends it with EINTR
    }
    return fds->revents != 0;
}

int SimDriver::Ioctl(int fd, unsigned long code, ...) {
    va_list args;
    va_start(args, code);
    uint8_t* area = static_cast<uint8_t*>(va_arg(args, void*));
    va_end(args);
    SimDriver& sim = *s_active;
    std::lock_guard<std::mutex> hold(sim.m_lock);
    if (sim.openFds.count(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    if (sim.record) {
        Request request{code, area, {}, {}};
        if (area != nullptr) {
            request.block.assign(area, area + (code == ZB5T_SEND ? sizeof(PK_SEND_REQUEST) : 4));
        }
        if (code == ZB5T_SEND) {
            const PK_SEND_REQUEST send = SendRequest(area);
            request.payload.assign(SentBytes(send),
                                   SentBytes(send) + send.blockLen + send.bufferLen);
        }
        sim.requests.push_back(std::move(request));
    }
    int answered = 0;
    if (sim.answer && sim.answer(code, area, &answered)) {
        return answered;
    }
    auto fault = sim.faults.find(code);
    if (fault != sim.faults.end() && !fault->second.empty()) {
        errno = fault->second.front();
        fault->second.erase(fault->second.begin());
        return -1;
    }
    auto reply = sim.replies.find(code);
    if (reply != sim.replies.end()) {
        sim.Copy(area, reply->second.bytes.data(), reply->second.bytes.size());
        return reply->second.count;
    }
    return sim.Handle(code, area);
}

int SimDriver::Copy(uint8_t* area, const void* from, size_t length) {
    if (length > 0) {
        std::memcpy(area, from, length);
    }
    return static_cast<int>(length);
}

// With loopback, a sent message is queued as incoming once all its data
// arrived.
int SimDriver::TakeSend(const PK_SEND_REQUEST& send) {
    if (!loopback) {
        return 0;
    }
    if (send.blockLen != 0) {
        if (m_queued == kRingSlots) {
            errno = EBUSY;
            return -1;
        }
        m_assembly.assign(SentBytes(send), SentBytes(send) + send.blockLen);
        PK_MSG_DESC desc;
        std::memcpy(&desc, m_assembly.data(), sizeof desc);
        m_assemblyMissing = 0;
        for (uint32_t i = 1; i < std::min<uint32_t>(desc.numbufs, 5); ++i) {
            m_assemblyMissing += desc.Buflen[i];
        }
    } else {
        m_assembly.insert(m_assembly.end(), SentBytes(send), SentBytes(send) + send.bufferLen);
        m_assemblyMissing -= std::min<uint64_t>(m_assemblyMissing, send.bufferLen);
    }
    if (m_assemblyMissing == 0) {
        std::swap(m_ring[(m_head + m_queued++) % kRingSlots], m_assembly);
    }
    return 0;
}

int SimDriver::Handle(unsigned long code, uint8_t* area) {
    switch (code) {
        case ZB5T_RECEIVE_START:
            if (m_queued == 0) {
                return 0;
            }
            std::swap(m_current, m_ring[m_head]);
            m_head = (m_head + 1) % kRingSlots;
            --m_queued;
            m_position = 0;
            [[fallthrough]];
        case ZB5T_RECEIVE_PART: {
            const size_t n = std::min<size_t>(Word(area, 0), m_current.size() - m_position);
            m_position += n;
            return Copy(area, m_current.data() + m_position - n, n);
        }
        case ZB5T_DISCARD_REST: m_position = m_current.size(); return 0;
        case ZB5T_SEND: return TakeSend(SendRequest(area));
        case ZB5T_ASSERT_BOARD_RESET:
        case ZB5T_LIFT_BOARD_RESET: boardReady = code == ZB5T_LIFT_BOARD_RESET; return 0;
        case ZB5T_READ_EEPROM:
        case ZB5T_READ_EEPROM_BY_SLOT:
            return static_cast<int>(driver_stream::ReplyRoom(code, area, 0));
        default: return 0;
    }
}

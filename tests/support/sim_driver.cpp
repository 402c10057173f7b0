#include "tests/support/sim_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <string>

namespace {

SimDriver* s_active = nullptr;

uint32_t Word(const uint8_t* area, size_t offset) {
    uint32_t word;
    std::memcpy(&word, area + offset, sizeof word);
    return word;
}

struct SendRequest {
    uint64_t blockAddr;
    uint64_t bufferAddr;
    uint32_t blockLen;
    uint32_t bufferLen;
};

// Length of the request block that arrives with each code.
size_t BlockLength(unsigned long code, const uint8_t* area) {
    switch (code) {
        case 0x6601: case 0x6602: case 0x6605: case 0x6608: case 0x6609:
        case 0x660E: case 0x6615: case 0x6616: case 0x6631:
            return 4;
        case 0x6611: case 0x6612:
            return 8;
        case 0x6606: case 0x660A: case 0x660B:
            return 12;  // 0x660A: the version reply with its size word
        case 0x660C:
            return 16;
        case 0x6604:
            return sizeof(SendRequest);
        case 0x660D:
            return 8 + (static_cast<size_t>(Word(area, 0)) + 3) / 4 * 4;
        default:
            return 0;
    }
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

std::vector<uint8_t> SimDriver::Stream(const PK_MSG_DESC& desc, const std::vector<uint8_t>& body) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&desc);
    std::vector<uint8_t> stream(sizeof desc + body.size());
    std::copy(bytes, bytes + sizeof desc, stream.begin());
    std::copy(body.begin(), body.end(), stream.begin() + sizeof desc);
    return stream;
}

void SimDriver::Queue(const std::vector<uint8_t>& stream) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<uint8_t> copy(stream);
    Push(copy);
}

std::vector<SimDriver::Request> SimDriver::RequestsFor(unsigned long code) const {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<Request> found;
    for (const Request& r : requests) {
        if (r.code == code) {
            found.push_back(r);
        }
    }
    return found;
}

bool SimDriver::Push(std::vector<uint8_t>& message) {
    if (m_queued == kRingSlots) {
        return false;
    }
    std::swap(m_ring[(m_head + m_queued) % kRingSlots], message);
    ++m_queued;
    return true;
}

int SimDriver::LowestFreeFd(int from) const {
    int fd = from;
    while (openFds.count(fd) != 0) {
        ++fd;
    }
    return fd;
}

int SimDriver::Open(const char* path, int flags, ...) {
    SimDriver& sim = *s_active;
    std::lock_guard<std::mutex> hold(sim.m_lock);
    sim.openFlags = flags;
    if (std::string(path) != "/dev/zb5t" || sim.openError != 0) {
        errno = sim.openError != 0 ? sim.openError : ENOENT;
        return -1;
    }
    int fd = sim.LowestFreeFd(3);
    sim.openFds.insert(fd);
    return fd;
}

int SimDriver::Fcntl(int fd, int cmd, ...) {
    va_list args;
    va_start(args, cmd);
    int minimum = va_arg(args, int);
    va_end(args);
    SimDriver& sim = *s_active;
    std::lock_guard<std::mutex> hold(sim.m_lock);
    sim.dupCommand = cmd;
    if (sim.dupError != 0 || sim.openFds.count(fd) == 0 ||
        (cmd != F_DUPFD && cmd != F_DUPFD_CLOEXEC)) {
        errno = sim.dupError != 0 ? sim.dupError : EBADF;
        return -1;
    }
    int copy = sim.LowestFreeFd(minimum);
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

int SimDriver::Poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
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
    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
        fds[i].revents = 0;
        if ((fds[i].events & POLLIN) && sim.m_queued > 0) {
            fds[i].revents |= POLLIN;
        }
        if ((fds[i].events & POLLOUT) && sim.boardReady) {
            fds[i].revents |= sim.readyEvents;
        }
        fds[i].revents |= sim.extraEvents;
        ready += fds[i].revents != 0;
    }
    if (ready == 0 && sim.pollSleeps) {
        hold.unlock();
        return ::poll(nullptr, 0, timeoutMs);  // a signal ends it with EINTR
    }
    return ready;
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
            request.block.assign(area, area + BlockLength(code, area));
        }
        if (code == 0x6604) {
            SendRequest send;
            std::memcpy(&send, area, sizeof send);
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(
                send.blockLen != 0 ? send.blockAddr : send.bufferAddr);
            request.payload.assign(bytes, bytes + send.blockLen + send.bufferLen);
        }
        sim.requests.push_back(std::move(request));
    }
    int answered = 0;
    if (sim.answer && sim.answer(code, area, &answered)) {
        return answered;
    }
    auto fault = sim.faults.find(code);
    if (fault != sim.faults.end()) {
        errno = fault->second.error;
        if (fault->second.times > 0 && --fault->second.times == 0) {
            sim.faults.erase(fault);
        }
        return -1;
    }
    auto reply = sim.replies.find(code);
    if (reply != sim.replies.end()) {
        if (!reply->second.bytes.empty()) {
            std::memcpy(area, reply->second.bytes.data(), reply->second.bytes.size());
        }
        return reply->second.count;
    }
    return sim.Handle(code, area);
}

int SimDriver::Deliver(uint8_t* area, uint32_t wanted) {
    size_t n = std::min<size_t>(wanted, m_current.size() - m_position);
    if (n > 0) {
        std::memcpy(area, m_current.data() + m_position, n);
    }
    m_position += n;
    return static_cast<int>(n);
}

// A send takes the message block or one data buffer by address. With
// loopback the message is queued as incoming once all its data arrived,
// addressed back to its sender.
int SimDriver::TakeSend(const uint8_t* area) {
    SendRequest send;
    std::memcpy(&send, area, sizeof send);
    if (!loopback) {
        return 0;
    }
    if (send.blockLen != 0) {
        if (m_queued == kRingSlots) {
            errno = EBUSY;
            return -1;
        }
        const uint8_t* block = reinterpret_cast<const uint8_t*>(send.blockAddr);
        m_assembly.assign(block, block + send.blockLen);
        PK_MSG_DESC desc;
        std::memcpy(&desc, block, sizeof desc);
        std::swap(desc.srcAddr1, desc.dstAddr1);
        std::swap(desc.srcAddr2, desc.dstAddr2);
        std::memcpy(m_assembly.data(), &desc, sizeof desc);
        m_assemblyMissing = 0;
        for (uint32_t i = 1; i < std::min<uint32_t>(desc.numbufs, 5); ++i) {
            m_assemblyMissing += desc.Buflen[i];
        }
    } else {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(send.bufferAddr);
        m_assembly.insert(m_assembly.end(), data, data + send.bufferLen);
        m_assemblyMissing -= std::min<uint64_t>(m_assemblyMissing, send.bufferLen);
    }
    if (m_assemblyMissing == 0) {
        Push(m_assembly);
    }
    return 0;
}

int SimDriver::Handle(unsigned long code, uint8_t* area) {
    switch (code) {
        case 0x6601:
            if (m_queued == 0) {
                return 0;
            }
            std::swap(m_current, m_ring[m_head]);
            m_head = (m_head + 1) % kRingSlots;
            --m_queued;
            m_position = 0;
            return Deliver(area, Word(area, 0));
        case 0x6602:
            return Deliver(area, Word(area, 0));
        case 0x6603:
            m_position = m_current.size();
            return 0;
        case 0x6604:
            return TakeSend(area);
        case 0x6605:
            std::memcpy(area, &mapping, sizeof mapping);
            return sizeof mapping;
        case 0x6608:
            boardReady = false;
            return 0;
        case 0x6609:
            boardReady = true;
            return 0;
        case 0x660A:
            std::memcpy(area + 4, version, sizeof version);
            return 12;
        case 0x660B:
        case 0x660C: {
            const size_t at = code == 0x660B ? 4 : 8;
            const size_t offset = std::min<size_t>(Word(area, at), eeprom.size());
            const size_t n = std::min<size_t>(Word(area, at + 4), eeprom.size() - offset);
            std::copy_n(eeprom.data() + offset, n, area);
            return static_cast<int>(n);
        }
        case 0x660D:
            boardData.assign(area + 8, area + 8 + Word(area, 0));
            return static_cast<int>(boardData.size());
        case 0x660E:
            std::copy_n(boardData.data(), boardData.size(), area);
            return static_cast<int>(boardData.size());
        case 0x660F:
            std::copy_n(reinterpret_cast<const uint8_t*>(detected.data()), detected.size() * 4, area);
            return static_cast<int>(detected.size() * 4);
        case 0x6611:
            std::copy_n(stats.data(), stats.size(), area);
            return static_cast<int>(stats.size());
        case 0x6612:
            std::fill(stats.begin(), stats.end(), 0);
            return 0;
        case 0x6606: case 0x6614: case 0x6615: case 0x6616: case 0x6631:
            return 0;
        default:
            errno = ENOTTY;
            return -1;
    }
}

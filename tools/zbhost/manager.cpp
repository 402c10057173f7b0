#include "tools/zbhost/manager.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "emu/pipe_frame.h"
#include "tools/zbhost/fifo.h"

bool Manager::Create(std::string* reason) {
    for (const char* path : {ZBHOST_MANAGER_IN_PATH, ZBHOST_MANAGER_OUT_PATH}) {
        if (!KeepOrMakeFifo(path)) {
            *reason = std::string("cannot create ") + path + ": " + std::strerror(errno);
            Remove();
            return false;
        }
    }
    m_requests = OpenFifo(ZBHOST_MANAGER_IN_PATH, O_RDWR);
    m_replies = OpenFifo(ZBHOST_MANAGER_OUT_PATH, O_RDWR);
    if (m_requests == -1 || m_replies == -1) {
        *reason = std::string("cannot open the manager pipes: ") + std::strerror(errno);
        Remove();
        return false;
    }
    return true;
}

void Manager::Remove() {
    if (m_requests != -1) close(m_requests);
    if (m_replies != -1) close(m_replies);
    m_requests = m_replies = -1;
    unlink(ZBHOST_MANAGER_IN_PATH);
    unlink(ZBHOST_MANAGER_OUT_PATH);
}

int Manager::TakeRequests(size_t* dropped) {
    char chunk[256];
    ssize_t got = read(m_requests, chunk, sizeof chunk);
    if (got <= 0) {
        return 0;
    }
    m_partial.insert(m_partial.end(), chunk, chunk + got);
    // Requests are found by their value, not by position, so a client that
    // wrote part of one (or died writing it) does not shift later requests.
    const uint32_t request = ZBHOST_MANAGER_REQUEST;
    const char* pattern = reinterpret_cast<const char*>(&request);
    int requests = 0;
    auto from = m_partial.begin();
    for (;;) {
        auto found = std::search(from, m_partial.end(), pattern, pattern + sizeof request);
        if (found == m_partial.end()) break;
        *dropped += static_cast<size_t>(found - from);
        from = found + sizeof request;
        ++requests;
    }
    // Keep only a tail that may still grow into a request.
    const size_t rest = static_cast<size_t>(m_partial.end() - from);
    size_t keep = std::min(rest, sizeof request - 1);
    while (keep > 0 && std::memcmp(&m_partial[m_partial.size() - keep], pattern, keep) != 0) {
        --keep;
    }
    *dropped += rest - keep;
    m_partial.erase(m_partial.begin(), m_partial.end() - static_cast<std::ptrdiff_t>(keep));
    return requests;
}

bool Manager::Reply(int32_t number) {
    return write(m_replies, &number, sizeof number) == sizeof number;
}

std::vector<int32_t> Manager::ReclaimUntakenReplies() {
    std::vector<int32_t> untaken;
    int32_t number;
    while (read(m_replies, &number, sizeof number) == sizeof number) {
        untaken.push_back(number);
    }
    return untaken;
}

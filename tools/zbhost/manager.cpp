#include "tools/zbhost/manager.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/zbhost/fifo.h"
#include "wire/emulator_frame.h"
#include "wire/emulator_paths.h"

bool Manager::Create(std::string* reason) {
    const EmulatorPath in = EmulatorFile(ZBHOST_MANAGER_IN_NAME);
    const EmulatorPath out = EmulatorFile(ZBHOST_MANAGER_OUT_NAME);
    for (const char* path : {in.text, out.text}) {
        if (!KeepOrMakeFifo(path)) {
            *reason = std::string("cannot create ") + path + ": " + std::strerror(errno);
            Remove();
            return false;
        }
    }
    // Both exist before either has a reader: a client that finds zbhost
    // reading requests finds the reply pipe too.
    m_requests = OpenSharedFifo(in.text);
    m_replies = OpenSharedFifo(out.text);
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
    unlink(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text);
    unlink(EmulatorFile(ZBHOST_MANAGER_OUT_NAME).text);
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
    if (write(m_replies, &number, sizeof number) != sizeof number) {
        return false;
    }
    m_unread.push_back(number);
    return true;
}

std::vector<int32_t> Manager::TakenReplies() {
    int unreadBytes = 0;
    if (ioctl(m_replies, FIONREAD, &unreadBytes) != 0) {
        return {};
    }
    const size_t unread = static_cast<size_t>(unreadBytes) / sizeof(int32_t);
    std::vector<int32_t> taken;
    while (m_unread.size() > unread) {
        taken.push_back(m_unread.front());
        m_unread.pop_front();
    }
    return taken;
}

std::vector<int32_t> Manager::ReclaimUntakenReplies() {
    // The newest replies are the ones still in the pipe; any taken since
    // TakenReplies stay in m_unread for its next call.
    char drain[256];
    size_t drained = 0;
    ssize_t got;
    while ((got = read(m_replies, drain, sizeof drain)) > 0) {
        drained += static_cast<size_t>(got);
    }
    const size_t untaken = std::min(drained / sizeof(int32_t), m_unread.size());
    std::vector<int32_t> numbers(m_unread.end() - static_cast<std::ptrdiff_t>(untaken),
                                 m_unread.end());
    m_unread.resize(m_unread.size() - untaken);
    return numbers;
}

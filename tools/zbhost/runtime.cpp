#include "tools/zbhost/runtime.h"

#include <malloc.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "wire/emulator_paths.h"

namespace {

// Answers, and answer bytes, a pair may queue before zbhost stops reading
// from it: a library that sends but does not receive holds no more memory.
constexpr size_t kMaxQueuedAnswers = 64;
constexpr size_t kMaxQueuedAnswerBytes = 32u * 1024u * 1024u;
// How often pairs not yet opened are looked at, and pairs that hold a buffer
// for idleness.
constexpr std::chrono::milliseconds kOpenCheckPeriod(250);
constexpr std::chrono::milliseconds kIdleCheckPeriod(1000);

// What an event in the set stands for: the signals, the manager's request
// pipe, or one end of a pair (its number times two, plus one for the end
// zbhost writes).
constexpr uint64_t kSignalsEvent = ~0ull;
constexpr uint64_t kRequestsEvent = ~1ull;
constexpr int kEventsPerWait = 64;

uint64_t PairEvent(int number, bool writeEnd) {
    return static_cast<uint64_t>(number) * 2 + (writeEnd ? 1 : 0);
}

// Adds, changes or removes fd's entry in the set: waiting for `events`,
// reported as `event`. False with errno when that fails.
bool WatchFd(int set, int operation, int fd, uint32_t events, uint64_t event) {
    epoll_event entry;
    entry.events = events;
    entry.data.u64 = event;
    return epoll_ctl(set, operation, fd, &entry) == 0;
}

template <typename Pairs>
int LowestFreeNumber(const Pairs& pairs) {
    int number = 0;
    for (const auto& entry : pairs) {
        if (entry.first != number) break;
        ++number;
    }
    return number;
}

}  // namespace

Runtime::~Runtime() {
    if (m_events != -1) close(m_events);
}

int Runtime::Serve(int signals) {
    std::string reason;
    if (!m_manager.Create(&reason)) {
        std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
        return 1;
    }
    m_events = epoll_create1(EPOLL_CLOEXEC);
    if (m_events == -1 || !WatchFd(m_events, EPOLL_CTL_ADD, signals, EPOLLIN, kSignalsEvent) ||
        !WatchFd(m_events, EPOLL_CTL_ADD, m_manager.RequestFd(), EPOLLIN, kRequestsEvent)) {
        std::perror("zbhost: epoll");
        RemoveEverything();
        return 1;
    }
    if (m_verbose) {
        std::fprintf(stderr, "zbhost: serving in %s\n", EmulatorDir());
    }
    epoll_event happened[kEventsPerWait];
    for (;;) {
        const int count =
            epoll_wait(m_events, happened, kEventsPerWait, Timeout(EchoPair::Clock::now()));
        if (count < 0 && errno != EINTR) {
            std::perror("zbhost: epoll_wait");
            RemoveEverything();
            return 1;
        }
        bool requests = false;
        for (int i = 0; i < count; ++i) {
            const uint64_t event = happened[i].data.u64;
            if (event == kSignalsEvent) {
                RemoveEverything();
                return 0;
            }
            if (event == kRequestsEvent) {
                requests = true;
            } else {
                ServePair(event, happened[i].events);
            }
        }
        if (requests) {
            AnswerRequests();
        }
        // Past the overall bound each pair's share counts: when that
        // changes, every pair is looked at again.
        if ((m_queued >= m_max_queued) != m_over_bound || m_pairs.size() != m_watched_pairs) {
            WatchAll();
        }
        GiveBackMemory();
        const auto now = EchoPair::Clock::now();
        if (m_unopened && now >= m_next_open_check) {
            RemoveUnopenedPairs(now);
            m_next_open_check = now + kOpenCheckPeriod;
        }
        if (m_buffers_held && now >= m_next_idle_check) {
            ReleaseIdleBuffers();
            m_next_idle_check = now + kIdleCheckPeriod;
        }
    }
}

// Only events wake the loop, and the checks that are due.
int Runtime::Timeout(EchoPair::Clock::time_point now) const {
    auto until = [now](EchoPair::Clock::time_point due) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now);
        return static_cast<int>(std::max<long long>(wait.count(), 0) + 1);
    };
    int timeout = -1;
    if (m_unopened) {
        timeout = until(m_next_open_check);
    }
    if (m_buffers_held) {
        const int idle = until(m_next_idle_check);
        timeout = timeout == -1 ? idle : std::min(timeout, idle);
    }
    return timeout;
}

void Runtime::AnswerRequests() {
    size_t dropped = 0;
    int requests = m_manager.TakeRequests(&dropped);
    if (dropped > 0) {
        std::fprintf(stderr, "zbhost: dropped %zu manager bytes that were no request\n", dropped);
    }
    // A client releases its turn only after reading its reply (or dying),
    // so replies still unread now have nobody waiting for them.
    if (requests > 0) {
        NoteTakenReplies(EchoPair::Clock::now());
        for (int32_t number : m_manager.ReclaimUntakenReplies()) {
            RemovePair(number, "reply not taken: ", "its client died in the handshake");
        }
    }
    for (; requests > 0; --requests) {
        const int number = LowestFreeNumber(m_pairs);
        WatchedPair& watched = m_pairs[number];
        std::string reason;
        if (!watched.pair.Create(number, &reason) ||
            !WatchFd(m_events, EPOLL_CTL_ADD, watched.pair.FromLibrary(), EPOLLIN,
                     PairEvent(number, false))) {
            if (reason.empty()) {
                reason = std::string("cannot watch pipe pair ") + std::to_string(number) + ": " +
                         std::strerror(errno);
                watched.pair.Remove();
            }
            std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
            m_pairs.erase(number);
            // A number without a pair: the client's open of it fails at once
            // instead of waiting forever and holding up every other client.
            m_manager.Reply(-1);
            continue;
        }
        watched.reading = true;
        m_unopened = true;
        if (!m_manager.Reply(number)) {
            RemovePair(number, "reply could not be written", "");
            continue;
        }
        if (m_verbose) {
            std::fprintf(stderr, "zbhost: pipe %04d opened\n", number);
        }
    }
}

void Runtime::NoteTakenReplies(EchoPair::Clock::time_point now) {
    for (int32_t number : m_manager.TakenReplies()) {
        auto found = m_pairs.find(number);
        if (found != m_pairs.end() && !found->second.pair.ReplyTaken()) {
            found->second.pair.SetReplyTaken(now);
        }
    }
}

// A client that took its number and died before opening its pair would
// leave the pair, and two descriptors, for good.
void Runtime::RemoveUnopenedPairs(EchoPair::Clock::time_point now) {
    NoteTakenReplies(now);
    const auto limit = std::chrono::seconds(m_open_timeout);
    std::vector<int> late;
    m_unopened = false;
    for (auto& entry : m_pairs) {
        EchoPair& pair = entry.second.pair;
        if (pair.OpenedByLibrary()) continue;
        if (pair.ReplyTaken() && !pair.CheckOpenedByLibrary() &&
            now - pair.ReplyTakenAt() >= limit) {
            late.push_back(entry.first);
        }
        m_unopened |= !pair.OpenedByLibrary();
    }
    for (int number : late) {
        RemovePair(number, "removed: ",
                   "its client did not open it within " + std::to_string(m_open_timeout) + " s");
    }
}

void Runtime::ServePair(uint64_t event, uint32_t happened) {
    const int number = static_cast<int>(event / 2);
    auto found = m_pairs.find(number);
    if (found == m_pairs.end()) {
        return;  // removed by an earlier event of the same wait
    }
    EchoPair& pair = found->second.pair;
    const size_t queuedBefore = pair.QueuedAnswerBytes();
    EchoPair::Outcome outcome = EchoPair::Outcome::Open;
    if (event % 2 == 1) {
        if (happened & (EPOLLOUT | EPOLLERR)) outcome = pair.OnWritable();
    } else if (happened & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
        outcome = pair.OnReadable();
        m_buffers_held = true;
    }
    m_queued = m_queued - queuedBefore + pair.QueuedAnswerBytes();
    switch (outcome) {
        case EchoPair::Outcome::Open:
            if (!Watch(number, found->second)) {
                RemovePair(number, "closed: ",
                           std::string("cannot watch its pipes: ") + std::strerror(errno));
            }
            break;
        case EchoPair::Outcome::ClosedByLibrary:
            RemovePair(number, "closed by the library", "");
            break;
        case EchoPair::Outcome::Malformed: RemovePair(number, "closed: ", pair.Problem()); break;
    }
}

// A library that does not read its answers is not read from either; its
// end of file still shows as EPOLLHUP. Past the overall bound, the pairs
// that queue the most wait. A pipe without a reader reports an error even
// when nothing is asked, so the write end is in the set only while answers
// wait for room.
bool Runtime::Watch(int number, WatchedPair& watched) {
    const EchoPair& pair = watched.pair;
    const size_t answers = pair.QueuedAnswerBytes();
    const size_t share = m_max_queued / std::max<size_t>(m_pairs.size(), 1);
    const bool reading = pair.QueuedAnswers() < kMaxQueuedAnswers &&
                         answers < kMaxQueuedAnswerBytes &&
                         (m_queued < m_max_queued || answers < share);
    if (reading != watched.reading) {
        if (!WatchFd(m_events, EPOLL_CTL_MOD, pair.FromLibrary(), reading ? EPOLLIN : 0u,
                     PairEvent(number, false))) {
            return false;
        }
        watched.reading = reading;
    }
    const bool writing = pair.HasOutput();
    if (writing != watched.writing) {
        if (!WatchFd(m_events, writing ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, pair.ToLibrary(), EPOLLOUT,
                     PairEvent(number, true))) {
            return false;
        }
        watched.writing = writing;
    }
    return true;
}

void Runtime::WatchAll() {
    m_over_bound = m_queued >= m_max_queued;
    m_watched_pairs = m_pairs.size();
    std::vector<int> failed;
    for (auto& entry : m_pairs) {
        if (!Watch(entry.first, entry.second)) failed.push_back(entry.first);
    }
    for (int number : failed) {
        RemovePair(number, "closed: ", "cannot watch its pipes");
    }
}

// A pair that read nothing for a whole period gives its buffer back; once
// no pair holds one, the heap's free space is handed back too.
void Runtime::ReleaseIdleBuffers() {
    bool held = false;
    for (auto& entry : m_pairs) {
        held |= entry.second.pair.ReleaseIfIdle();
    }
    if (!held) {
        malloc_trim(0);
    }
    m_buffers_held = held;
}

// Buffers of 128 KiB and more live in their own mappings (see PrepareForManyPairs) and go
// back when freed; after a burst of queued answers has drained, the heap's
// free space is handed back too.
void Runtime::GiveBackMemory() {
    constexpr size_t kBurst = 8u << 20;
    constexpr size_t kDrained = 1u << 20;
    if (m_queued >= kBurst) {
        m_trim_due = true;
    } else if (m_trim_due && m_queued < kDrained) {
        malloc_trim(0);
        m_trim_due = false;
    }
}

void Runtime::RemovePair(int number, const char* why, const std::string& detail) {
    auto found = m_pairs.find(number);
    if (found == m_pairs.end()) {
        return;
    }
    const bool problem = !detail.empty();
    if (problem || m_verbose) {
        std::fprintf(stderr, "zbhost: pipe %04d %s%s\n", number, why, detail.c_str());
    }
    m_queued -= found->second.pair.QueuedAnswerBytes();
    found->second.pair.Remove();  // closing its ends takes them out of the set
    m_pairs.erase(found);
}

void Runtime::RemoveEverything() {
    for (auto& entry : m_pairs) {
        entry.second.pair.Remove();
    }
    m_pairs.clear();
    m_queued = 0;
    m_manager.Remove();
}

#include "tools/zbhost/runtime.h"

#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "wire/emulator_paths.h"

namespace {

// Answers, and answer bytes, a pair may queue before zbhost stops reading
// from it: a library that sends but does not receive holds no more memory.
constexpr size_t kMaxQueuedAnswers = 64;
constexpr size_t kMaxQueuedAnswerBytes = 32u * 1024u * 1024u;
// How often pairs not yet opened are looked at.
constexpr std::chrono::milliseconds kOpenCheckPeriod(250);

int LowestFreeNumber(const std::map<int, EchoPair>& pairs) {
    int number = 0;
    for (const auto& entry : pairs) {
        if (entry.first != number) break;
        ++number;
    }
    return number;
}

}  // namespace

int Runtime::Serve(int signals) {
    std::string reason;
    if (!m_manager.Create(&reason)) {
        std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
        return 1;
    }
    if (m_verbose) {
        std::fprintf(stderr, "zbhost: serving in %s\n", EmulatorDir());
    }
    std::vector<pollfd> polled;
    for (;;) {
        size_t queued = 0;
        for (const auto& entry : m_pairs) queued += entry.second.QueuedAnswerBytes();
        GiveBackMemory(queued);
        const size_t share = m_max_queued / std::max<size_t>(m_pairs.size(), 1);

        polled.clear();
        polled.push_back({signals, POLLIN, 0});
        polled.push_back({m_manager.RequestFd(), POLLIN, 0});
        for (const auto& entry : m_pairs) {
            const EchoPair& pair = entry.second;
            // A library that does not read its answers is not read from
            // either; its end of file still shows as POLLHUP. Past the
            // overall bound, the pairs that queue the most wait.
            const size_t answers = pair.QueuedAnswerBytes();
            const bool room = pair.QueuedAnswers() < kMaxQueuedAnswers &&
                              answers < kMaxQueuedAnswerBytes &&
                              (queued < m_max_queued || answers < share);
            polled.push_back({pair.FromLibrary(), static_cast<short>(room ? POLLIN : 0), 0});
            // A pipe without a reader polls as an error even when nothing is
            // asked, so the write end is watched only with answers to send.
            polled.push_back({pair.HasOutput() ? pair.ToLibrary() : -1, POLLOUT, 0});
        }
        const int timeout = PollTimeout(EchoPair::Clock::now());
        if (poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
            std::perror("zbhost: poll");
            RemoveEverything();
            return 1;
        }
        if (polled[0].revents & POLLIN) {
            RemoveEverything();
            return 0;
        }
        ServePairs(polled);
        if (polled[1].revents & POLLIN) {
            AnswerRequests();
        }
        const auto now = EchoPair::Clock::now();
        if (now >= m_next_open_check) {
            RemoveUnopenedPairs(now);
            m_next_open_check = now + kOpenCheckPeriod;
        }
    }
}

// Pairs not yet opened by their clients are looked at every
// kOpenCheckPeriod; otherwise only events wake the loop.
int Runtime::PollTimeout(EchoPair::Clock::time_point now) const {
    for (const auto& entry : m_pairs) {
        if (!entry.second.OpenedByLibrary()) {
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(m_next_open_check - now);
            return static_cast<int>(std::max<long long>(wait.count(), 0) + 1);
        }
    }
    return -1;
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
        EchoPair& pair = m_pairs[number];
        std::string reason;
        if (!pair.Create(number, &reason)) {
            std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
            m_pairs.erase(number);
            // A number without a pair: the client's open of it fails at once
            // instead of waiting forever and holding up every other client.
            m_manager.Reply(-1);
            continue;
        }
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
        if (found != m_pairs.end() && !found->second.ReplyTaken()) {
            found->second.SetReplyTaken(now);
        }
    }
}

// A client that took its number and died before opening its pair would
// leave the pair, and two descriptors, for good.
void Runtime::RemoveUnopenedPairs(EchoPair::Clock::time_point now) {
    NoteTakenReplies(now);
    const auto limit = std::chrono::seconds(m_open_timeout);
    std::vector<int> late;
    for (auto& entry : m_pairs) {
        EchoPair& pair = entry.second;
        if (pair.ReplyTaken() && !pair.CheckOpenedByLibrary() &&
            now - pair.ReplyTakenAt() >= limit) {
            late.push_back(entry.first);
        }
    }
    const std::string detail =
        "its client did not open it within " + std::to_string(m_open_timeout) + " s";
    for (int number : late) {
        RemovePair(number, "removed: ", detail);
    }
}

// Pairs sit in the poll list in map order, two entries each after the
// signal and manager entries.
void Runtime::ServePairs(const std::vector<pollfd>& polled) {
    std::vector<int> numbers;
    for (const auto& entry : m_pairs) numbers.push_back(entry.first);
    for (size_t i = 0; i < numbers.size(); ++i) {
        EchoPair& pair = m_pairs[numbers[i]];
        const pollfd& input = polled[2 + 2 * i];
        const pollfd& output = polled[3 + 2 * i];
        EchoPair::Outcome outcome = EchoPair::Outcome::Open;
        if (output.revents & (POLLOUT | POLLERR)) {
            outcome = pair.OnWritable();
        }
        if (outcome == EchoPair::Outcome::Open && (input.revents & (POLLIN | POLLHUP | POLLERR))) {
            outcome = pair.OnReadable();
        }
        switch (outcome) {
            case EchoPair::Outcome::Open: break;
            case EchoPair::Outcome::ClosedByLibrary:
                RemovePair(numbers[i], "closed by the library", "");
                break;
            case EchoPair::Outcome::Malformed:
                RemovePair(numbers[i], "closed: ", pair.Problem());
                break;
        }
    }
}

// Answers of 128 KiB and more live in their own mappings (see PrepareForManyPairs) and go
// back when freed; after a burst of queued answers has drained, the heap's
// free space is handed back too.
void Runtime::GiveBackMemory(size_t queued) {
    constexpr size_t kBurst = 8u << 20;
    constexpr size_t kDrained = 1u << 20;
    if (queued >= kBurst) {
        m_trim_due = true;
    } else if (m_trim_due && queued < kDrained) {
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
    found->second.Remove();
    m_pairs.erase(found);
}

void Runtime::RemoveEverything() {
    for (auto& entry : m_pairs) {
        entry.second.Remove();
    }
    m_pairs.clear();
    m_manager.Remove();
}

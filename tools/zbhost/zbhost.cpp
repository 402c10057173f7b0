// zbhost: the board emulator runtime with its host manager. Hands out
// numbered pipe pairs in the emulator directory and serves each with an
// echo board.
#include <fcntl.h>
#include <malloc.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "wire/emulator_paths.h"
#include "tools/common/tool_version.h"
#include "services/shared_access.h"
#include "tools/zbhost/echo_pair.h"
#include "tools/zbhost/fifo.h"
#include "tools/zbhost/manager.h"
#include "tools/zbhost/replay.h"

namespace {

// Answers, and answer bytes, a pair may queue before zbhost stops reading
// from it: a library that sends but does not receive holds no more memory.
constexpr size_t kMaxQueuedAnswers = 64;
constexpr size_t kMaxQueuedAnswerBytes = 32u * 1024u * 1024u;
// Answer bytes all pairs together may queue before zbhost reads only from
// pairs that queue less than an equal share of it (--max-queued).
constexpr unsigned long long kDefaultMaxQueued = 256ull * 1024 * 1024;
constexpr unsigned long long kMaxQueuedRange[2] = {1ull << 20, 1ull << 40};
// Seconds a client has to open its pair after taking its number (--open-timeout).
constexpr unsigned long long kDefaultOpenTimeout = 10;
constexpr unsigned long long kOpenTimeoutRange[2] = {1, 3600};
// How often pairs not yet opened are looked at, and pairs that hold a buffer
// for idleness.
constexpr std::chrono::milliseconds kOpenCheckPeriod(250);
constexpr std::chrono::milliseconds kIdleCheckPeriod(1000);

const char kHelp[] =
    "Usage: zbhost [--verbose] [--max-queued BYTES] [--open-timeout SECONDS]\n"
    "              [--replay FILE [--ignore FIELD,...] [--timing]]\n"
    "\n"
    "Board emulator runtime for pelklib's emulator backend (driver type zbhost).\n"
    "\n"
    "Works in the directory named by the environment variable PELK_EMULATOR_DIR\n"
    "(/dev when unset; the library reads the same variable). Creates the manager\n"
    "pipes ZBHostManagerIn and ZBHostManagerOut there and answers each 4-byte\n"
    "request (0xBEEF) with a free pipe number, after creating that pipe pair,\n"
    "ZBHostIn%04d (library writes) and ZBHostOut%04d (library reads). Each pair is\n"
    "served by an emulated board that sends every message back: same type, tag,\n"
    "header and data buffers, with the source and destination address words\n"
    "swapped. Many pairs are served at once, none waiting on another. When the\n"
    "library closes its ends the pair is removed and its number used again. A\n"
    "malformed frame from the library closes that pair, with a line on standard\n"
    "error. A request for which no pair can be made is answered with -1, a number\n"
    "that names no pair. A reply still untaken when the next request arrives (its\n"
    "client died in the handshake) is taken back and its pair removed, as is a\n"
    "pair its client has not opened within --open-timeout seconds of taking its\n"
    "number.\n"
    "\n"
    "A pair whose unsent answers reach 64 or 32 MiB is not read until the library\n"
    "takes them; when all pairs together queue --max-queued bytes of answers or\n"
    "more, only pairs that queue less than an equal share of that are read.\n"
    "\n"
    "SIGINT, SIGTERM, SIGHUP or SIGQUIT removes every pipe zbhost made and exits\n"
    "with status 0. Manager pipes left by a zbhost that was killed are taken\n"
    "over, so clients waiting on them are served; its pipe pairs are removed.\n"
    "Only one zbhost serves a directory: a second one exits with status 1, as\n"
    "does one that cannot create its pipes (is the directory writable?).\n"
    "\n"
    "  --verbose               log every pair opened and closed on standard error\n"
    "  --max-queued BYTES      bound on answer bytes queued for all pairs\n"
    "                          (2^20 to 2^40, default 268435456: 256 MiB)\n"
    "  --open-timeout SECONDS  time a client has to open its pair (1 to 3600,\n"
    "                          default 10)\n"
    "  --replay FILE           serve one client session from a capture file instead\n"
    "                          of echoing: compare each message the client sends\n"
    "                          with the next one the recorded application sent\n"
    "                          (differences on standard error, field by field),\n"
    "                          answer with what it received; exit 0 only if every\n"
    "                          message matched\n"
    "  --ignore FIELD,...      with --replay: fields left out of the comparison:\n"
    "                          type, dst1, dst2, tag, numbufs, header_len, word0,\n"
    "                          word1, opaque, word4, param_count, param0 to param7,\n"
    "                          header, buflen, data\n"
    "  --timing                with --replay: keep the recorded delays of the answers\n"
    "  --help                  show this text\n"
    "  --version               show zbhost's version\n";

bool s_verbose = false;
unsigned long long s_maxQueued = kDefaultMaxQueued;
unsigned long long s_openTimeout = kDefaultOpenTimeout;

// Libraries see whether zbhost lives by taking its lock shared for an
// instant; such a look is no other zbhost, so a refused lock is tried again
// for a little while.
bool LockExclusively(int fd) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK) return false;
        usleep(1000);
    }
    return false;
}

// Holds the host-wide lock of the one running zbhost; -1 when another has it.
int TakeInstanceLock(std::string* reason) {
    const EmulatorPath lockPath = EmulatorFile(ZBHOST_LOCK_NAME);
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(lockPath.text, O_RDWR | O_CREAT | O_CLOEXEC, SharedByGroup() ? 0600 : 0644);
        if (fd != -1 && SharedByGroup() && (errno = ShareDescriptor(fd)) != 0) {
            close(fd);
            fd = -1;
        }
        if (fd == -1) {
            *reason = std::string("cannot create ") + EmulatorDir() + "/" + ZBHOST_LOCK_NAME +
                      ": " + std::strerror(errno) + " (is the directory writable?)";
            return -1;
        }
        if (!LockExclusively(fd)) {
            *reason = "another zbhost already serves this host";
            close(fd);
            return -1;
        }
        // The lock counts only if the file was not removed by a leaving
        // zbhost between our open and flock.
        struct stat held, named;
        if (fstat(fd, &held) == 0 && stat(lockPath.text, &named) == 0 &&
            held.st_ino == named.st_ino) {
            return fd;
        }
        close(fd);
    }
    *reason = std::string("cannot hold ") + lockPath.text;
    return -1;
}

// A runtime of another kind may serve without our lock: a reader on the
// manager's request pipe shows it.
bool OtherRuntimeServes() {
    int fd = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) {
        return false;
    }
    close(fd);
    return true;
}

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

// The work of one message costs the same however many pairs are served:
// the pairs' ends wait in one epoll set, changed only when what zbhost asks
// of an end changes, and only the pairs with events are looked at.
class Runtime {
public:
    ~Runtime();
    int Serve(int signals);

private:
    // A pair with what its ends ask for in the event set.
    struct WatchedPair {
        EchoPair pair;
        bool reading = false;  // its read end asks for input
        bool writing = false;  // its write end is in the set
    };

    int Timeout(EchoPair::Clock::time_point now) const;
    void AnswerRequests();
    void NoteTakenReplies(EchoPair::Clock::time_point now);
    void RemoveUnopenedPairs(EchoPair::Clock::time_point now);
    void ServePair(uint64_t event, uint32_t happened);
    bool Watch(int number, WatchedPair& watched);
    void WatchAll();
    void ReleaseIdleBuffers();
    void GiveBackMemory();
    void RemovePair(int number, const char* why, const std::string& detail);
    void RemoveEverything();

    Manager m_manager;
    int m_events = -1;  // the epoll set
    std::map<int, WatchedPair> m_pairs;
    size_t m_queued = 0;          // answer bytes all pairs queue
    bool m_over_bound = false;    // m_queued reached --max-queued when all were last watched
    size_t m_watched_pairs = 0;   // how many pairs shared the bound then
    bool m_unopened = false;      // some pair may not be opened by its client yet
    bool m_buffers_held = false;  // some pair may hold a buffer
    EchoPair::Clock::time_point m_next_open_check;
    EchoPair::Clock::time_point m_next_idle_check;
    bool m_trim_due = false;
};

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
    if (s_verbose) {
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
        if ((m_queued >= s_maxQueued) != m_over_bound || m_pairs.size() != m_watched_pairs) {
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
        if (s_verbose) {
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
    const auto limit = std::chrono::seconds(s_openTimeout);
    std::vector<int> late;
    m_unopened = false;
    for (auto& entry : m_pairs) {
        EchoPair& pair = entry.second.pair;
        if (pair.OpenedByLibrary()) continue;
        if (pair.ReplyTaken() && !pair.CheckOpenedByLibrary() && now - pair.ReplyTakenAt() >= limit) {
            late.push_back(entry.first);
        }
        m_unopened |= !pair.OpenedByLibrary();
    }
    for (int number : late) {
        RemovePair(number, "removed: ",
                   "its client did not open it within " + std::to_string(s_openTimeout) + " s");
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
        case EchoPair::Outcome::Malformed:
            RemovePair(number, "closed: ", pair.Problem());
            break;
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
    const size_t share = s_maxQueued / std::max<size_t>(m_pairs.size(), 1);
    const bool reading = pair.QueuedAnswers() < kMaxQueuedAnswers &&
                         answers < kMaxQueuedAnswerBytes &&
                         (m_queued < s_maxQueued || answers < share);
    if (reading != watched.reading) {
        if (!WatchFd(m_events, EPOLL_CTL_MOD, pair.FromLibrary(), reading ? EPOLLIN : 0u,
                     PairEvent(number, false))) {
            return false;
        }
        watched.reading = reading;
    }
    const bool writing = pair.HasOutput();
    if (writing != watched.writing) {
        if (!WatchFd(m_events, writing ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, pair.ToLibrary(),
                     EPOLLOUT, PairEvent(number, true))) {
            return false;
        }
        watched.writing = writing;
    }
    return true;
}

void Runtime::WatchAll() {
    m_over_bound = m_queued >= s_maxQueued;
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

// Buffers of 128 KiB and more live in their own mappings (see main) and go
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
    if (problem || s_verbose) {
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

// A decimal option value in [range[0], range[1]]; false when it is not.
bool ParseNumber(const std::string& text, const unsigned long long (&range)[2],
                 unsigned long long* value) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::stoull(text);
    return *value >= range[0] && *value <= range[1];
}

}  // namespace

int main(int argc, char** argv) {
    ReplayOptions replay;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        const size_t equals = option.find('=');
        const bool inlineValue = option.compare(0, 2, "--") == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = option.substr(equals + 1);
            option.resize(equals);
        }
        if (!inlineValue && (option == "--help" || option == "-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (option == "--version") {
            PrintToolVersion("zbhost", nullptr);
            return 0;
        }
        if (!inlineValue && (option == "--verbose" || option == "-v")) {
            s_verbose = true;
            continue;
        }
        if (!inlineValue && option == "--timing") {
            replay.timing = true;
            continue;
        }
        if (option == "--replay" || option == "--ignore") {
            if (!inlineValue) {
                if (i + 1 == argc) {
                    std::fprintf(stderr, "zbhost: %s needs a value\n", option.c_str());
                    return 2;
                }
                value = argv[++i];
            }
            if (option == "--replay") replay.file = value;
            for (size_t at = 0; option == "--ignore" && at <= value.size();) {
                const size_t comma = std::min(value.find(',', at), value.size());
                replay.ignored.insert(value.substr(at, comma - at));
                at = comma + 1;
            }
            continue;
        }
        const unsigned long long(*range)[2] = nullptr;
        unsigned long long* setting = nullptr;
        if (option == "--max-queued") {
            range = &kMaxQueuedRange;
            setting = &s_maxQueued;
        } else if (option == "--open-timeout") {
            range = &kOpenTimeoutRange;
            setting = &s_openTimeout;
        } else {
            std::fprintf(stderr, "zbhost: unknown option %s (see zbhost --help)\n", argv[i]);
            return 2;
        }
        if (!inlineValue && i + 1 < argc) {
            value = argv[++i];
        }
        if (!ParseNumber(value, *range, setting)) {
            std::fprintf(stderr, "zbhost: %s takes a whole number from %llu to %llu, not \"%s\"\n",
                         option.c_str(), (*range)[0], (*range)[1], value.c_str());
            return 2;
        }
    }
    std::string unknown;
    if (!ValidReplayFields(replay.ignored, &unknown)) {
        std::fprintf(stderr, "zbhost: --ignore: unknown field \"%s\"; known: %s\n",
                     unknown.c_str(), ReplayFieldNames());
        return 2;
    }
    if (replay.file.empty() && (replay.timing || !replay.ignored.empty())) {
        std::fprintf(stderr, "zbhost: --ignore and --timing need --replay FILE\n");
        return 2;
    }

    if (EmulatorFile(ZBHOST_LOCK_NAME).text[0] == '\0') {
        std::fprintf(stderr, "zbhost: %s is longer than %zu bytes\n", kEmulatorDirVariable,
                     ZBHOST_DIR_MAX);
        return 1;
    }
    std::string reason;
    const int lock = TakeInstanceLock(&reason);
    if (lock == -1) {
        std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
        return 1;
    }
    if (OtherRuntimeServes()) {
        std::fprintf(stderr, "zbhost: another runtime already serves %s\n",
                     EmulatorFile(ZBHOST_MANAGER_IN_NAME).text);
        return 1;
    }
    const int left = RemoveLeftPairs();
    if (left > 0 && s_verbose) {
        std::fprintf(stderr, "zbhost: removed %d pipes left by an earlier runtime\n", left);
    }

    // Termination arrives as a readable descriptor in the poll loop.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGHUP);
    sigaddset(&stopping, SIGQUIT);
    sigprocmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stopping, SFD_CLOEXEC);
    if (signals == -1) {
        std::perror("zbhost: signalfd");
        return 1;
    }

    // Every pair takes two descriptors: allow as many as the host lets us.
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // A fixed threshold (instead of one that grows with the largest block
    // freed) keeps every large answer in a mapping of its own.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    Runtime runtime;
    const int status =
        replay.file.empty() ? runtime.Serve(signals) : RunReplay(replay, signals, s_verbose);
    unlink(EmulatorFile(ZBHOST_LOCK_NAME).text);
    close(lock);
    return status;
}

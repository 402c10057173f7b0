// zbhost: the board emulator runtime with its host manager. Hands out
// numbered pipe pairs in the emulator directory and serves each with an
// echo board.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
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
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "wire/emulator_paths.h"
#include "tools/common/standard_descriptors.h"
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
// How often pairs not yet opened are looked at.
constexpr std::chrono::milliseconds kOpenCheckPeriod(250);

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

// The emulator directory must pass the check of shared places before
// anything is made in it; one that cannot be opened is left to the lock's
// creation to report.
bool DirectoryTrusted(std::string* reason) {
    const int fd = open(EmulatorDir(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1) {
        return true;
    }
    const bool trusted = CheckSharedObject(fd, SharedKind::Directory, EmulatorDir(), reason) == 0;
    close(fd);
    return trusted;
}

// Holds the lock of the one zbhost serving the directory; -1 when another
// has it, or when the directory or a lock file is refused. The lock is never
// followed through a symbolic link, and a file left there must pass the
// check of shared objects.
int TakeInstanceLock(std::string* reason) {
    if (!DirectoryTrusted(reason)) {
        return -1;
    }
    const EmulatorPath lockPath = EmulatorFile(ZBHOST_LOCK_NAME);
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(lockPath.text, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      SharedByGroup() ? 0600 : 0644);
        if (fd == -1 && errno == ELOOP) {
            *reason = DescribeOpenFailure(lockPath.text, ELOOP);
            return -1;
        }
        if (fd != -1 && CheckSharedObject(fd, SharedKind::File, lockPath.text, reason) != 0) {
            close(fd);
            return -1;
        }
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
        if (fstat(fd, &held) == 0 && lstat(lockPath.text, &named) == 0 &&
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
    int fd = OpenFifo(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY);
    if (fd == -1) {
        return false;
    }
    close(fd);
    return true;
}

int LowestFreeNumber(const std::map<int, EchoPair>& pairs) {
    int number = 0;
    for (const auto& entry : pairs) {
        if (entry.first != number) break;
        ++number;
    }
    return number;
}

class Runtime {
public:
    int Serve(int signals);

private:
    int PollTimeout(EchoPair::Clock::time_point now) const;
    void AnswerRequests();
    void NoteTakenReplies(EchoPair::Clock::time_point now);
    void RemoveUnopenedPairs(EchoPair::Clock::time_point now);
    void ServePairs(const std::vector<pollfd>& polled);
    void GiveBackMemory(size_t queued);
    void RemovePair(int number, const char* why, const std::string& detail);
    void RemoveEverything();

    Manager m_manager;
    std::map<int, EchoPair> m_pairs;
    EchoPair::Clock::time_point m_next_open_check;
    bool m_trim_due = false;
};

int Runtime::Serve(int signals) {
    std::string reason;
    if (!m_manager.Create(&reason)) {
        std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
        return 1;
    }
    if (s_verbose) {
        std::fprintf(stderr, "zbhost: serving in %s\n", EmulatorDir());
    }
    std::vector<pollfd> polled;
    for (;;) {
        size_t queued = 0;
        for (const auto& entry : m_pairs) queued += entry.second.QueuedAnswerBytes();
        GiveBackMemory(queued);
        const size_t share = s_maxQueued / std::max<size_t>(m_pairs.size(), 1);

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
                              (queued < s_maxQueued || answers < share);
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
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                m_next_open_check - now);
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
        if (s_verbose) {
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
    const auto limit = std::chrono::seconds(s_openTimeout);
    std::vector<int> late;
    for (auto& entry : m_pairs) {
        EchoPair& pair = entry.second;
        if (pair.ReplyTaken() && !pair.CheckOpenedByLibrary() && now - pair.ReplyTakenAt() >= limit) {
            late.push_back(entry.first);
        }
    }
    const std::string detail =
        "its client did not open it within " + std::to_string(s_openTimeout) + " s";
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
            case EchoPair::Outcome::Open:
                break;
            case EchoPair::Outcome::ClosedByLibrary:
                RemovePair(numbers[i], "closed by the library", "");
                break;
            case EchoPair::Outcome::Malformed:
                RemovePair(numbers[i], "closed: ", pair.Problem());
                break;
        }
    }
}

// Answers of 128 KiB and more live in their own mappings (see main) and go
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
    if (problem || s_verbose) {
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
    OpenClosedStandardDescriptors();
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

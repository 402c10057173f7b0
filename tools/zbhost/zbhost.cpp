// zbhost: the board emulator runtime with its host manager. Hands out
// numbered pipe pairs under /dev and serves each with an echo board.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "emu/pipe_frame.h"
#include "services/shared_access.h"
#include "tools/zbhost/echo_pair.h"
#include "tools/zbhost/manager.h"

namespace {

constexpr const char* kLockPath = "/dev/ZBHostManager.lock";
// Answers, and answer bytes, a pair may queue before zbhost stops reading
// from it: a library that sends but does not receive holds no more memory.
constexpr size_t kMaxQueuedAnswers = 64;
constexpr size_t kMaxQueuedAnswerBytes = 32u * 1024u * 1024u;

const char kHelp[] =
    "Usage: zbhost [--verbose]\n"
    "\n"
    "Board emulator runtime for pelklib's emulator backend (driver type zbhost).\n"
    "\n"
    "Creates the manager pipes /dev/ZBHostManagerIn and /dev/ZBHostManagerOut and\n"
    "answers each 4-byte request (0xBEEF) with a free pipe number, after creating\n"
    "that pipe pair, /dev/ZBHostIn%04d (library writes) and /dev/ZBHostOut%04d\n"
    "(library reads). Each pair is served by an emulated board that sends every\n"
    "message back: same type, tag, header and data buffers, with the source and\n"
    "destination address words swapped. Many pairs are served at once, none\n"
    "waiting on another. When the library closes its ends the pair is removed\n"
    "and its number used again. A malformed frame from the library closes that\n"
    "pair, with a line on standard error. A request for which no pair can be\n"
    "made is answered with -1, a number that names no pair. A reply still\n"
    "untaken when the next request arrives (its client died in the handshake)\n"
    "is taken back and its pair removed.\n"
    "\n"
    "SIGINT, SIGTERM, SIGHUP or SIGQUIT removes every pipe zbhost made and exits\n"
    "with status 0. Manager pipes left by a zbhost that was killed are taken\n"
    "over, so clients waiting on them are served.\n"
    "Only one zbhost serves a host: a second one exits with status 1, as does\n"
    "one that cannot create its pipes (is /dev writable?).\n"
    "\n"
    "  --verbose   log every pair opened and closed on standard error\n"
    "  --help      show this text\n";

bool s_verbose = false;

// Holds the host-wide lock of the one running zbhost; -1 when another has it.
int TakeInstanceLock(std::string* reason) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(kLockPath, O_RDWR | O_CREAT | O_CLOEXEC, SharedByGroup() ? 0600 : 0644);
        if (fd != -1 && SharedByGroup() && (errno = ShareDescriptor(fd)) != 0) {
            close(fd);
            fd = -1;
        }
        if (fd == -1) {
            *reason = std::string("cannot create ") + kLockPath + ": " + std::strerror(errno) +
                      " (is /dev writable?)";
            return -1;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *reason = "another zbhost already serves this host";
            close(fd);
            return -1;
        }
        // The lock counts only if the file was not removed by a leaving
        // zbhost between our open and flock.
        struct stat held, named;
        if (fstat(fd, &held) == 0 && stat(kLockPath, &named) == 0 && held.st_ino == named.st_ino) {
            return fd;
        }
        close(fd);
    }
    *reason = std::string("cannot hold ") + kLockPath;
    return -1;
}

// A runtime of another kind may serve without our lock: a reader on the
// manager's request pipe shows it.
bool OtherRuntimeServes() {
    int fd = open(ZBHOST_MANAGER_IN_PATH, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
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
    void AnswerRequests();
    void ServePairs(const std::vector<pollfd>& polled);
    void RemovePair(int number, const char* why, const std::string& detail);
    void RemoveEverything();

    Manager m_manager;
    std::map<int, EchoPair> m_pairs;
};

int Runtime::Serve(int signals) {
    std::string reason;
    if (!m_manager.Create(&reason)) {
        std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
        return 1;
    }
    if (s_verbose) {
        std::fprintf(stderr, "zbhost: serving on %s and %s\n", ZBHOST_MANAGER_IN_PATH,
                     ZBHOST_MANAGER_OUT_PATH);
    }
    std::vector<pollfd> polled;
    for (;;) {
        polled.clear();
        polled.push_back({signals, POLLIN, 0});
        polled.push_back({m_manager.RequestFd(), POLLIN, 0});
        for (const auto& entry : m_pairs) {
            const EchoPair& pair = entry.second;
            // A library that does not read its answers is not read from
            // either; its end of file still shows as POLLHUP.
            const bool room = pair.QueuedAnswers() < kMaxQueuedAnswers &&
                              pair.QueuedAnswerBytes() < kMaxQueuedAnswerBytes;
            const short input = room ? POLLIN : 0;
            const short output = pair.HasOutput() ? POLLOUT : 0;
            polled.push_back({pair.FromLibrary(), input, 0});
            polled.push_back({pair.ToLibrary(), output, 0});
        }
        if (poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR) {
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
    }
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

// Pairs sit in the poll list in map order, two entries each after the
// signal and manager entries.
void Runtime::ServePairs(const std::vector<pollfd>& polled) {
    std::vector<int> numbers;
    for (const auto& entry : m_pairs) numbers.push_back(entry.first);
    for (size_t i = 0; i < numbers.size(); ++i) {
        EchoPair& pair = m_pairs[numbers[i]];
        const pollfd& input = polled[2 + 2 * i];
        const pollfd& output = polled[3 + 2 * i];
        if (output.revents & POLLOUT) {
            pair.OnWritable();
        }
        if (input.revents & (POLLIN | POLLHUP | POLLERR)) {
            switch (pair.OnReadable()) {
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

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (option == "--verbose" || option == "-v") {
            s_verbose = true;
            continue;
        }
        std::fprintf(stderr, "zbhost: unknown option %s (see zbhost --help)\n", option.c_str());
        return 2;
    }

    std::string reason;
    const int lock = TakeInstanceLock(&reason);
    if (lock == -1) {
        std::fprintf(stderr, "zbhost: %s\n", reason.c_str());
        return 1;
    }
    if (OtherRuntimeServes()) {
        std::fprintf(stderr, "zbhost: another runtime already serves %s\n",
                     ZBHOST_MANAGER_IN_PATH);
        return 1;
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

    Runtime runtime;
    const int status = runtime.Serve(signals);
    unlink(kLockPath);
    close(lock);
    return status;
}

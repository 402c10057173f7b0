// pelkd: serves this host's boards and board-identity table to other hosts
// over gRPC.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "services/settings.h"
#include "tools/common/standard_descriptors.h"
#include "tools/pelkd/pelkd_options.h"
#include "tools/pelkd/pelkd_server.h"

namespace {

// A stop that has not ended every session in this time ends pelkd anyway
// (a board operation may wait without limit).
constexpr unsigned int kStopLimitSeconds = 5;

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    signal(SIGPIPE, SIG_IGN);
    // pelkd serves this host's own boards, never those of another pelkd.
    unsetenv(kRemoteVariable);

    PelkdSettings settings;
    int exitStatus = 0;
    if (!ReadPelkdOptions(argc, argv, &settings, &exitStatus)) {
        return exitStatus;
    }

    // Stop signals are taken by sigwait below, on no other thread.
    sigset_t stopping;
    sigemptyset(&stopping);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stopping, signal);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);

    PelkdServer server(settings);
    const std::string problem = server.Start();
    if (!problem.empty()) {
        std::fprintf(stderr, "pelkd: %s\n", problem.c_str());
        return 1;
    }
    for (const std::string& where : server.Listening()) {
        std::printf("pelkd: listening on %s\n", where.c_str());
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopping, &received);
    if (settings.verbose) {
        std::fprintf(stderr, "pelkd: stopping (%s)\n", strsignal(received));
    }
    std::thread([] {
        sleep(kStopLimitSeconds);
        std::fprintf(stderr, "pelkd: sessions still busy after %u s; exiting\n", kStopLimitSeconds);
        _exit(1);
    }).detach();
    server.Stop();
    return 0;
}

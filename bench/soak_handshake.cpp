// Soak of the emulator handshake, run by scripts/soak_handshake.sh inside the
// test sandbox: zbhost is killed (SIGKILL) and restarted PELK_SOAK_CYCLES
// times (300 unless set) at random moments while 8 client processes open,
// talk and close. Every restart must succeed, and after the last every
// client must be served again: no client, and no Open on the host, is
// wedged. Exits 0 when so, 1 otherwise.
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "emu/pelklib_emu.h"
#include "tests/support/child_process.h"
#include "tests/support/pair_open_delay.h"
#include "tests/support/zbhost_process.h"

namespace {

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the client processes report, in memory shared with them.
struct SoakReport {
    std::atomic<bool> stop;
    std::atomic<long long> servedAtMs[8];
    std::atomic<long long> served, refused, longestOpenMs;
};

// Opens, sends one message, receives its answer, closes; again and again.
void SoakClient(SoakReport* report, unsigned int client) {
    std::mt19937 random(client);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return;
    while (!report->stop) {
        PairOpenDelay delay(static_cast<unsigned int>(random() % 4));
        cPelkLib_Emu lib;
        const long long start = NowMs();
        const int status = lib.Open(0, nullptr);
        report->longestOpenMs = std::max<long long>(report->longestOpenMs, NowMs() - start);
        PK_SEND_INFO send = {1, 0, 0, 2, 3, client};
        PK_REC_INFO info;
        char header[56];
        unsigned int headerLen = 0;
        if (status == 0 && lib.SendMessage(&send, "hdr", 3, 0, nullptr, nullptr) == 0 &&
            lib.ReceiveMessage(&info, 2000, sizeof header, header, &headerLen) == 0 &&
            info.tag == client) {
            ++report->served;
            report->servedAtMs[client] = NowMs();
        } else {
            ++report->refused;
            usleep(1000);
        }
    }
}

}  // namespace

int main() {
    const char* cyclesText = getenv("PELK_SOAK_CYCLES");
    const int cycles = cyclesText != nullptr ? atoi(cyclesText) : 300;
    void* shared = mmap(nullptr, sizeof(SoakReport), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        std::perror("soak_handshake: mmap");
        return 1;
    }
    SoakReport* report = new (shared) SoakReport{};
    std::vector<pid_t> clients;
    std::fflush(stdout);
    for (unsigned int client = 0; client < 8; ++client) {
        clients.push_back(StartChild([=] { return SoakClient(report, client), 0; }));
    }
    std::mt19937 random(1);
    int failedStarts = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        Zbhost zbhost;
        failedStarts += zbhost.WaitReady() ? 0 : 1;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        if (zbhost.Stop(SIGKILL) != 128 + SIGKILL) {
            ++failedStarts;
            std::printf("cycle %d: %s", cycle, zbhost.Errors().c_str());
        }
    }
    Zbhost zbhost;
    if (!zbhost.WaitReady()) ++failedStarts;
    const long long since = NowMs();
    auto allServed = [&] {
        return std::all_of(report->servedAtMs, report->servedAtMs + 8,
                           [&](const std::atomic<long long>& at) { return at > since; });
    };
    while (!allServed() && NowMs() - since < 70000) usleep(10000);
    const bool wedged = !allServed();
    report->stop = true;
    for (pid_t client : clients) WaitChild(client);
    std::printf("%d cycles: %lld round trips, %lld refused, longest Open %lld ms, "
                "all served again %lld ms after the last restart\n",
                cycles, report->served.load(), report->refused.load(), report->longestOpenMs.load(),
                NowMs() - since);
    if (wedged) std::printf("FAILED: a client is wedged\n");
    if (failedStarts != 0) std::printf("FAILED: %d restarts failed\n", failedStarts);
    return wedged || failedStarts != 0 ? 1 : 0;
}

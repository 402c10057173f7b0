// pelkd's resident size: idle, with 64 sessions open and idle (the size per
// idle session), and at its peak while 32 clients make round trips of
// 1 KiB at once.
//
// Starts its own zbhost and pelkd, so run it in the sandbox:
//   tests/support/sandbox.sh build/default/bench/pelkd_memory [RESULT.json]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pelklib.h>

#include "tests/support/pelkd_process.h"
#include "tests/support/zbhost_process.h"

namespace {

using Lib = std::unique_ptr<cPelkLib, void (*)(cPelkLib*)>;

constexpr int kIdleSessions = 64;
constexpr int kBusyClients = 32;

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

Lib Opened(const std::string& target) {
    Lib lib(NewPelkLibRemote(target.c_str(), PELKLIB_DRIVER_ZBHOST, 0), deletePelkLib);
    if (lib->Open(PK_MAX_HEADER_LEN, nullptr) != 0) lib.reset();
    return lib;
}

bool RoundTrip(cPelkLib& lib) {
    char data[1024] = {}, back[1024];
    void* out[1] = {data};
    void* in[1] = {back};
    unsigned int lengths[1] = {sizeof data};
    _PELKOR_MSG_HEADER header = {};
    PK_REC_INFO info;
    return lib.SendPelkorMessage(&header, 0, 0, 1, 1, out, lengths) == 0 &&
           lib.ReceivePelkorMessage(&info, 10000, &header) == 0 &&
           lib.ReceiveBuffers(info.bufLen, in) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Zbhost zbhost;
    char directory[] = "/tmp/pelk-bench-memory-XXXXXX";
    if (!zbhost.WaitReady() || mkdtemp(directory) == nullptr) {
        std::fprintf(stderr, "pelkd_memory: no zbhost (run it in the sandbox)\n");
        return 1;
    }
    Pelkd pelkd({"--listen", std::string("unix:") + directory + "/pelkd.sock"});
    if (pelkd.Targets().size() != 1) {
        std::fprintf(stderr, "pelkd_memory: pelkd did not start: %s\n", pelkd.Errors().c_str());
        return 1;
    }
    const std::string target = pelkd.Target();
    {  // a first session sets up what every later one shares
        Lib warm = Opened(target);
        if (warm == nullptr || !RoundTrip(*warm)) return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long idle = ResidentKiB(pelkd.Pid());

    std::vector<Lib> sessions;
    for (int i = 0; i < kIdleSessions; ++i) {
        sessions.push_back(Opened(target));
        if (sessions.back() == nullptr) return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long withIdle = ResidentKiB(pelkd.Pid());
    sessions.clear();

    std::atomic<bool> running{true};
    std::atomic<long> peak{0};
    std::thread sampler([&] {
        while (running) {
            peak = std::max(peak.load(), ResidentKiB(pelkd.Pid()));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::atomic<int> failed{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kBusyClients; ++i) {
        clients.emplace_back([&] {
            Lib lib = Opened(target);
            for (int round = 0; lib != nullptr && round < 200; ++round) {
                if (!RoundTrip(*lib)) return void(++failed);
            }
            if (lib == nullptr) ++failed;
        });
    }
    for (std::thread& client : clients) client.join();
    running = false;
    sampler.join();

    const double perIdle = static_cast<double>(withIdle - idle) / kIdleSessions;
    std::printf("pelkd idle: %ld KiB\n%d idle sessions: %ld KiB (%.1f KiB each)\n"
                "%d busy clients: peak %ld KiB (%.1f KiB each above idle), %d failed\n",
                idle, kIdleSessions, withIdle, perIdle, kBusyClients, peak.load(),
                static_cast<double>(peak.load() - idle) / kBusyClients, failed.load());
    std::ofstream json(argc > 1 ? argv[1] : "/dev/null");
    json << "{\"idle_kib\": " << idle << ", \"idle_sessions\": " << kIdleSessions
         << ", \"with_idle_sessions_kib\": " << withIdle
         << ", \"per_idle_session_kib\": " << perIdle << ", \"busy_clients\": " << kBusyClients
         << ", \"busy_peak_kib\": " << peak.load() << ", \"failed\": " << failed.load() << "}\n";
    std::system(("rm -rf " + std::string(directory)).c_str());
    return failed == 0 ? 0 : 1;
}

// pelk ping: message round trips with their latency.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/pelk/command.h"
#include "tools/pelk/target.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t s_interrupted = 0;

// Ctrl-C ends the round trips and keeps what they measured. Without
// SA_RESTART, a wait for an answer returns at once.
void StopOnInterrupt() {
    struct sigaction action = {};
    action.sa_handler = [](int) { s_interrupted = 1; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

// zbhost refuses messages with more data than this.
constexpr unsigned int kMaxSize = 16u << 20;
// Every latency is kept for the percentiles: at most 80 MB of them.
constexpr unsigned int kMaxCount = 10000000u;

// One round trip: send a protocol message with one data buffer, receive the
// answer and its buffer, check that they came back unchanged.
int RoundTrip(cPelkLib& lib, unsigned int tag, unsigned int timeout, std::string& data,
              std::string& received) {
    _PELKOR_MSG_HEADER header;
    std::memset(&header, 0, sizeof header);
    header.word0 = tag;
    header.paramCount = 1;
    header.params[0] = static_cast<uint32_t>(data.size());
    void* buffers[1] = {&data[0]};
    unsigned int lengths[1] = {static_cast<unsigned int>(data.size())};
    int status = lib.SendPelkorMessage(&header, 1, 0, tag, data.empty() ? 0 : 1, buffers, lengths);
    if (status != 0) {
        return status;
    }
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER answer;
    status = lib.ReceivePelkorMessage(&info, timeout, &answer);
    if (status != 0) {
        return status;
    }
    // Only the one buffer sent may come back, no larger than sent.
    if (info.bufLen[0] != data.size() || info.bufLen[1] != 0) {
        lib.FlushMessageBuffers();
        return PKERR_BAD_MESSAGE;
    }
    if (!data.empty()) {
        void* into[4] = {&received[0], nullptr, nullptr, nullptr};
        status = lib.ReceiveBuffers(info.bufLen, into);
        if (status != 0) {
            return status;
        }
    }
    if (info.tag != tag || std::memcmp(&answer, &header, sizeof header) != 0 || received != data) {
        return PKERR_BAD_MESSAGE;
    }
    return 0;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
    const size_t rank = static_cast<size_t>(std::ceil(fraction * sorted.size()));
    return sorted[rank == 0 ? 0 : rank - 1];
}

// count round trips of size data bytes each, and their summary.
int Ping(Output& out, cPelkLib& lib, unsigned int count, unsigned int size, unsigned int timeout) {
    std::string data(size, '\0'), received(size, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>('a' + i % 26);
    }
    std::vector<double> micros;
    micros.reserve(count);
    const bool progress = !out.Json() && isatty(STDERR_FILENO);
    StopOnInterrupt();
    const Clock::time_point start = Clock::now();
    Clock::time_point nextProgress = start + std::chrono::seconds(1);
    int status = 0;
    for (unsigned int tag = 1; tag <= count && status == 0 && !s_interrupted; ++tag) {
        const Clock::time_point sent = Clock::now();
        status = RoundTrip(lib, tag, timeout, data, received);
        const Clock::time_point back = Clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(back - sent).count());
        if (progress && back >= nextProgress) {
            std::fprintf(stderr, "ping: %u of %u round trips, %.0f s\n", tag, count,
                         std::chrono::duration<double>(back - start).count());
            nextProgress = back + std::chrono::seconds(1);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // A round trip cut short by the interrupt counts neither way.
    if (s_interrupted && status != 0) {
        micros.pop_back();
        status = 0;
    }
    if (s_interrupted) {
        out.Text("interrupted after %zu of %u round trips\n", micros.size(), count);
        out.Fields().Bool("interrupted", true);
        out.Doing("round trip " + std::to_string(micros.size() + 1));
        out.Error("interrupted");
        count = static_cast<unsigned int>(micros.size());
        if (count == 0) {
            out.Fields().Int("count", 0).Int("size", size);
            return kExitInterrupted;
        }
    }
    if (status != 0) {
        micros.pop_back();
        out.Fields().Int("completed", micros.size());
        out.Text("round trip %zu failed after %zu completed\n", micros.size() + 1, micros.size());
        out.Status("status", "round trip " + std::to_string(micros.size() + 1), status, &lib);
        return kExitFailed;
    }
    std::sort(micros.begin(), micros.end());
    const double perSecond = seconds > 0 ? count / seconds : 0;
    out.Fields()
        .Int("count", count)
        .Int("size", size)
        .Obj("latencyMicros", JsonObject()
                                  .Num("min", micros.front())
                                  .Num("median", Percentile(micros, 0.5))
                                  .Num("p99", Percentile(micros, 0.99))
                                  .Num("max", micros.back()))
        .Num("roundTripsPerSecond", perSecond)
        .Num("messagesPerSecond", 2 * perSecond);
    out.Text("%u round trips, 56-byte header + %u data bytes each, all echoed unchanged\n"
             "latency: min %.1f us, median %.1f us, p99 %.1f us, max %.1f us\n"
             "%.0f round trips/s (%.0f messages/s, each way counted)\n",
             count, size, micros.front(), Percentile(micros, 0.5), Percentile(micros, 0.99),
             micros.back(), perSecond, 2 * perSecond);
    return s_interrupted ? kExitInterrupted : kExitOk;
}

int RunPing(Invocation& invocation) {
    const Arguments& args = invocation.args;
    Output& out = invocation.out;
    unsigned int count = 0, size = 0, timeout = 0;
    for (const std::string& wrong :
         {args.Number("--count", 10, 1, kMaxCount, "", &count),
          args.Number("--size", 64, 0, kMaxSize, "bytes", &size),
          args.Number("--timeout", 5000, 0, kMaxTimeoutMs, "milliseconds", &timeout)}) {
        if (!wrong.empty()) {
            return out.Usage(wrong);
        }
    }
    return RunOnBoard(invocation,
                      [&](Target& target) { return Ping(out, *target.lib, count, size, timeout); });
}

}  // namespace

const Command kPingCommand = {
    "ping",
    "",
    "send messages to the board and time their round trips",
    {{"--count", 'c', "N", "number of round trips (default 10)"},
     {"--size", 's', "BYTES", "bytes in the message's data buffer (default 64)"},
     {"--timeout", 't', "MS", "how long to wait for each answer (default 5000)"}},
    true,
    0,
    0,
    RunPing,
    {"pelk ping --board 1 --count=1000", "pelk ping -c 100 -s 4096 --capture ping.pcapng"}};

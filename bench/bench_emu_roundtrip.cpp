// Round trip of one message (56-byte protocol header, one 1024-byte data
// buffer) through zbhost's echo board: through the emulator backend, and
// beside it the floor, plain writes and reads of the same bytes on a pipe
// pair of the same zbhost. Prints the ratio of the two (goal: <= 1.15).
//
// Starts its own zbhost and needs a writable /dev, so run it in the sandbox:
//   tests/support/sandbox.sh build/default/bench/bench_emu_roundtrip
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include <pelklib.h>

#include "wire/emulator_frame.h"
#include "wire/emulator_paths.h"

namespace {

constexpr unsigned int kDataLen = 1024;

// The reply of the manager, taken with plain calls as the floor does.
int ManagerHandshake() {
    int reply = open(EmulatorFile(ZBHOST_MANAGER_OUT_NAME).text, O_RDONLY | O_CLOEXEC);
    int request = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY | O_CLOEXEC);
    uint32_t word = ZBHOST_MANAGER_REQUEST;
    int32_t number = -1;
    if (reply == -1 || request == -1 || write(request, &word, 4) != 4 ||
        read(reply, &number, 4) != 4) {
        number = -1;
    }
    close(request);
    close(reply);
    return number;
}

bool ReadExactly(int fd, char* into, size_t length) {
    while (length > 0) {
        ssize_t got = read(fd, into, length);
        if (got <= 0) return false;
        into += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

// The floor: the same bytes with plain calls on a pair of its own.
class FloorPair {
public:
    bool Open() {
        int number = ManagerHandshake();
        m_out = open(EmulatorPipe(ZBHOST_PIPE_IN_NAME, number).text, O_WRONLY | O_CLOEXEC);
        m_in = open(EmulatorPipe(ZBHOST_PIPE_OUT_NAME, number).text, O_RDONLY | O_CLOEXEC);
        PK_PIPE_FRAME frame = {};
        std::memcpy(frame.magic, ZBHOST_FRAME_MAGIC, 4);
        frame.desc.type = 1;
        frame.desc.srcAddr1 = ZBHOST_SENDER_ADDRESS;
        frame.desc.numbufs = 2;
        frame.desc.Buflen[0] = PK_MAX_HEADER_LEN;
        frame.desc.Buflen[1] = kDataLen;
        std::memcpy(m_block, &frame, sizeof frame);
        return number >= 0 && m_out != -1 && m_in != -1;
    }
    ~FloorPair() {
        close(m_out);
        close(m_in);
    }
    bool RoundTrip() {
        return write(m_out, m_block, sizeof m_block) == sizeof m_block &&
               write(m_out, m_data, kDataLen) == kDataLen &&
               read(m_in, m_answer, ZBHOST_FRAME_LEN) == ZBHOST_FRAME_LEN &&
               ReadExactly(m_in, m_answer + ZBHOST_FRAME_LEN, PK_MAX_HEADER_LEN) &&
               ReadExactly(m_in, m_answer + ZBHOST_SEND_BLOCK_LEN, kDataLen);
    }

private:
    int m_out = -1;
    int m_in = -1;
    char m_block[ZBHOST_SEND_BLOCK_LEN] = {};
    char m_data[kDataLen] = {};
    char m_answer[ZBHOST_SEND_BLOCK_LEN + kDataLen];
};

// The same message through the emulator backend.
class LibraryPair {
public:
    // captureFile: record the pair's traffic there (PELK_CAPTURE), or null.
    bool Open(const char* captureFile = nullptr) {
        if (captureFile != nullptr) setenv("PELK_CAPTURE", captureFile, 1);
        m_lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
        unsetenv("PELK_CAPTURE");
        return m_lib->Open(PK_MAX_HEADER_LEN, nullptr) == 0;
    }
    ~LibraryPair() { deletePelkLib(m_lib); }
    bool RoundTrip() {
        void* buffers[4] = {m_data, nullptr, nullptr, nullptr};
        void* into[4] = {m_received, nullptr, nullptr, nullptr};
        unsigned int lengths[1] = {kDataLen};
        PK_REC_INFO info;
        _PELKOR_MSG_HEADER echoed;
        return m_lib->SendPelkorMessage(&m_header, 0, 0, 1, 1, buffers, lengths) == 0 &&
               m_lib->ReceivePelkorMessage(&info, 5000, &echoed) == 0 &&
               m_lib->ReceiveBuffers(info.bufLen, into) == 0;
    }

private:
    cPelkLib* m_lib = nullptr;
    _PELKOR_MSG_HEADER m_header = {};
    char m_data[kDataLen] = {};
    char m_received[kDataLen];
};

void BM_FloorRoundTrip(benchmark::State& state) {
    FloorPair floor;
    if (!floor.Open()) {
        state.SkipWithError("no pipe pair from zbhost");
        return;
    }
    for (auto _ : state) {
        if (!floor.RoundTrip()) {
            state.SkipWithError("floor round trip failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LibraryRoundTrip(benchmark::State& state) {
    LibraryPair library;
    if (!library.Open()) {
        state.SkipWithError("Open failed");
        return;
    }
    for (auto _ : state) {
        if (!library.RoundTrip()) {
            state.SkipWithError("library round trip failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// Both in alternating blocks of round trips, so that a busy machine weighs
// on both alike; reports the ratio of library to floor time.
void BM_InterleavedRatio(benchmark::State& state) {
    FloorPair floor;
    LibraryPair library;
    if (!floor.Open() || !library.Open()) {
        state.SkipWithError("no pipe pairs from zbhost");
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration floorTime{}, libraryTime{};
    constexpr int kBlock = 32;
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            if (!floor.RoundTrip()) state.SkipWithError("floor round trip failed");
        }
        auto middle = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            if (!library.RoundTrip()) state.SkipWithError("library round trip failed");
        }
        auto end = Clock::now();
        floorTime += middle - start;
        libraryTime += end - middle;
    }
    const double rounds = static_cast<double>(state.iterations()) * kBlock;
    const double floorSeconds = std::chrono::duration<double>(floorTime).count();
    const double librarySeconds = std::chrono::duration<double>(libraryTime).count();
    state.counters["floor_msg/s"] = rounds / floorSeconds;
    state.counters["library_msg/s"] = rounds / librarySeconds;
    state.counters["ratio"] = librarySeconds / floorSeconds;
}

// The same round trip captured and uncaptured, in alternating blocks:
// reports the ratio of captured to uncaptured time (goal: <= 1.3).
void BM_CapturedRatio(benchmark::State& state) {
    char path[] = "/tmp/pelk-bench-capture-XXXXXX";
    close(mkstemp(path));
    LibraryPair plain, captured;
    if (!plain.Open() || !captured.Open(path)) {
        state.SkipWithError("no pipe pairs from zbhost");
        unlink(path);
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration plainTime{}, capturedTime{};
    constexpr int kBlock = 32;
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            if (!plain.RoundTrip()) state.SkipWithError("round trip failed");
        }
        auto middle = Clock::now();
        for (int i = 0; i < kBlock; ++i) {
            if (!captured.RoundTrip()) state.SkipWithError("captured round trip failed");
        }
        auto end = Clock::now();
        plainTime += middle - start;
        capturedTime += end - middle;
    }
    unlink(path);
    const double rounds = static_cast<double>(state.iterations()) * kBlock;
    state.counters["plain_msg/s"] = rounds / std::chrono::duration<double>(plainTime).count();
    state.counters["captured_msg/s"] = rounds / std::chrono::duration<double>(capturedTime).count();
    state.counters["capture_ratio"] = std::chrono::duration<double>(capturedTime).count() /
                                      std::chrono::duration<double>(plainTime).count();
}

BENCHMARK(BM_FloorRoundTrip)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LibraryRoundTrip)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_InterleavedRatio)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CapturedRatio)
    ->UseRealTime()
    ->Iterations(300)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Keeps the median time per round trip of each benchmark.
class MedianKeeper : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians[run.benchmark_name()] = run.GetAdjustedRealTime();
                for (const auto& counter : run.counters) {
                    counters[counter.first] = counter.second.value;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
    std::map<std::string, double> counters;  // of the interleaved run, medians
};

pid_t StartZbhost() {
    pid_t pid = fork();
    if (pid == 0) {
        execl(ZBHOST_PATH, ZBHOST_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200 && access(EmulatorFile(ZBHOST_MANAGER_OUT_NAME).text, F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    pid_t zbhost = StartZbhost();
    MedianKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    kill(zbhost, SIGTERM);
    waitpid(zbhost, nullptr, 0);

    double floor = 0, library = 0;
    for (const auto& entry : reporter.medians) {
        if (entry.first.find("Floor") != std::string::npos) floor = entry.second;
        if (entry.first.find("Library") != std::string::npos) library = entry.second;
    }
    if (floor > 0 && library > 0) {
        std::printf("\nseparate runs, median: floor %.2f us (%.0f msg/s), library %.2f us "
                    "(%.0f msg/s), ratio %.3f\n",
                    floor / 1000, 1e9 / floor, library / 1000, 1e9 / library, library / floor);
    }
    if (reporter.counters.count("capture_ratio") != 0) {
        std::printf("captured, median: %.0f msg/s against %.0f uncaptured, ratio %.3f "
                    "(goal <= 1.3)\n",
                    reporter.counters["captured_msg/s"], reporter.counters["plain_msg/s"],
                    reporter.counters["capture_ratio"]);
    }
    if (reporter.counters.count("ratio") != 0) {
        std::printf("interleaved, median: floor %.0f msg/s, library %.0f msg/s, "
                    "ratio %.3f (goal <= 1.15)\n",
                    reporter.counters["floor_msg/s"], reporter.counters["library_msg/s"],
                    reporter.counters["ratio"]);
    }
    benchmark::Shutdown();
    return 0;
}

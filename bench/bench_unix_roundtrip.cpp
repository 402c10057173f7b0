// One protocol message (56-byte header, one 1024-byte data buffer) sent and
// received through cPelkLib_Unix over the simulated driver, beside the same
// driver requests issued straight to the driver with prepared blocks. Heap
// allocations inside the library's send and receive paths are counted. After
// the benchmarks, both are timed in alternating blocks and the median of the
// per-pair ratios is printed (and written as JSON with --paired_json=FILE).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "bench/paired_ratio.h"
#include "tests/support/sim_driver.h"
#include "unix/pelklib.h"
#include "unix/system_calls.h"

namespace {

std::atomic<uint64_t> s_allocations{0};

void* Allocate(std::size_t size) {
    s_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

// Kept out of line so the compiler does not pair free with a new expression.
[[gnu::noinline]] void Release(void* p) noexcept {
    std::free(p);
}

constexpr unsigned int kDataLen = 1024;

}  // namespace

void* operator new(std::size_t size) {
    void* p = Allocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}

namespace {

// One protocol message sent through a library object, and received back
// with its data buffer.
class RoundTrip {
public:
    explicit RoundTrip(cPelkLib& lib) : m_lib(lib) {}
    bool Send() { return m_lib.SendPelkorMessage(&m_header, 1, 2, 3, 1, m_out, m_outLengths) == 0; }
    bool Receive() {
        return (m_lib.ReceivePelkorMessage(&m_info, 0, &m_received) |
                m_lib.ReceiveBuffers(m_info.bufLen, m_in)) == 0;
    }
    bool Both() { return Send() && Receive(); }

private:
    cPelkLib& m_lib;
    _PELKOR_MSG_HEADER m_header = {1, 2, {}, 4, 2, {10, 20}};
    uint8_t m_outData[kDataLen] = {}, m_inData[kDataLen];
    void* m_out[1] = {m_outData};
    unsigned int m_outLengths[1] = {kDataLen};
    void* m_in[4] = {m_inData};
    PK_REC_INFO m_info;
    _PELKOR_MSG_HEADER m_received;
};

void BM_LibraryRoundTrip(benchmark::State& state) {
    SimDriver sim;
    sim.loopback = true;
    sim.record = false;
    cPelkLib_Unix lib;
    if (lib.Open(0, nullptr) != 0) {
        state.SkipWithError("Open failed");
        return;
    }
    RoundTrip trip(lib);
    auto roundTrip = [&](uint64_t* sendAllocs, uint64_t* receiveAllocs) {
        uint64_t before = s_allocations.load(std::memory_order_relaxed);
        bool ok = trip.Send();
        uint64_t sent = s_allocations.load(std::memory_order_relaxed);
        ok &= trip.Receive();
        *sendAllocs += sent - before;
        *receiveAllocs += s_allocations.load(std::memory_order_relaxed) - sent;
        return ok;
    };
    uint64_t sendAllocs = 0, receiveAllocs = 0;
    // Until every slot of the driver's queue has held a message, the driver
    // itself still allocates.
    for (int i = 0; i < 256; ++i) {
        roundTrip(&sendAllocs, &receiveAllocs);
    }
    sendAllocs = receiveAllocs = 0;
    for (auto _ : state) {
        if (!roundTrip(&sendAllocs, &receiveAllocs)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    state.counters["send_allocs_per_msg"] =
        benchmark::Counter(static_cast<double>(sendAllocs), benchmark::Counter::kAvgIterations);
    state.counters["receive_allocs_per_msg"] =
        benchmark::Counter(static_cast<double>(receiveAllocs), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LibraryRoundTrip);

// The same round trip through an object the factory wrapped for capture
// (PELK_CAPTURE set): three records written per round trip. Fixed iterations
// keep the file small; it is removed afterwards.
void BM_CapturedRoundTrip(benchmark::State& state) {
    SimDriver sim;
    sim.loopback = true;
    sim.record = false;
    char path[] = "/tmp/pelk-bench-capture-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    setenv("PELK_CAPTURE", path, 1);
    cPelkLib* lib = newPelkLib();
    unsetenv("PELK_CAPTURE");
    RoundTrip trip(*lib);
    if (lib->Open(0, nullptr) != 0) state.SkipWithError("Open failed");
    for (auto _ : state) {
        if (!trip.Both()) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    deletePelkLib(lib);
    unlink(path);
}
BENCHMARK(BM_CapturedRoundTrip)->Iterations(20000);

// The floor: the same five driver calls (two sends, poll, message start,
// data buffer) with blocks prepared once.
class DriverFloor {
public:
    DriverFloor() : m_fd(g_unixSystemCalls.open("/dev/zb5t", 0)) {
        PK_MSG_DESC desc = {1, 0, 2, 0, 1, 3, 2, {56, kDataLen, 0, 0, 0}};
        std::memcpy(m_block, &desc, sizeof desc);
    }
    ~DriverFloor() { g_unixSystemCalls.close(m_fd); }
    bool RoundTrip() {
        const PK_SEND_REQUEST sendBlock = {reinterpret_cast<uintptr_t>(m_block), 0, sizeof m_block,
                                           0};
        const PK_SEND_REQUEST sendData = {0, reinterpret_cast<uintptr_t>(m_out), 0, kDataLen};
        int failed = g_unixSystemCalls.ioctl(m_fd, 0x6604, &sendBlock) < 0;
        failed |= g_unixSystemCalls.ioctl(m_fd, 0x6604, &sendData) < 0;
        struct pollfd entry = {m_fd, POLLIN, 0};
        failed |= g_unixSystemCalls.poll(&entry, 1, 0) != 1;
        uint32_t wanted = sizeof m_rx;
        std::memcpy(m_rx, &wanted, sizeof wanted);
        failed |= g_unixSystemCalls.ioctl(m_fd, 0x6601, m_rx) != static_cast<int>(sizeof m_rx);
        wanted = kDataLen;
        std::memcpy(m_in, &wanted, sizeof wanted);
        failed |= g_unixSystemCalls.ioctl(m_fd, 0x6602, m_in) != static_cast<int>(kDataLen);
        benchmark::DoNotOptimize(m_in);
        return failed == 0;
    }

private:
    int m_fd;
    uint8_t m_block[48 + 56] = {}, m_rx[48 + 56], m_out[kDataLen] = {}, m_in[kDataLen];
};

void BM_DriverFloor(benchmark::State& state) {
    SimDriver sim;
    sim.loopback = true;
    sim.record = false;
    DriverFloor floor;
    for (auto _ : state) {
        if (!floor.RoundTrip()) {
            state.SkipWithError("driver request failed");
            break;
        }
    }
}
BENCHMARK(BM_DriverFloor);

// The library's round trip and the floor in alternating blocks, on one
// simulated driver.
PairedRatio MeasurePairedRoundTrip() {
    SimDriver sim;
    sim.loopback = true;
    sim.record = false;
    cPelkLib_Unix lib;
    PairedRatio failed;
    failed.failed = true;
    if (lib.Open(0, nullptr) != 0) return failed;
    DriverFloor floor;
    RoundTrip trip(lib);
    return MeasurePaired([&] { return trip.Both(); }, [&] { return floor.RoundTrip(); }, 11);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string json;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--paired_json=", 0) == 0) json = arg.substr(14);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const PairedRatio paired = MeasurePairedRoundTrip();
    std::printf("paired: library over driver floor, median of %d ratios %.3f (minimum %.3f; "
                "%.3f us against %.3f us)\n",
                paired.pairs, paired.median, paired.minimum, paired.pathUs, paired.floorUs);
    if (!json.empty()) {
        FILE* out = std::fopen(json.c_str(), "w");
        if (out != nullptr) {
            WritePairedJson(out, paired);
            std::fputc('\n', out);
            std::fclose(out);
        }
    }
    return paired.failed ? 1 : 0;
}

// One protocol message (56-byte header, one 1024-byte data buffer) sent and
// received through cPelkLib_Unix over the simulated driver, beside the same
// driver requests issued straight to the driver with prepared blocks. Heap
// allocations inside the library's send and receive paths are counted.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <unistd.h>

#include <benchmark/benchmark.h>

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

void BM_LibraryRoundTrip(benchmark::State& state) {
    SimDriver sim;
    sim.loopback = true;
    sim.record = false;
    cPelkLib_Unix lib;
    if (lib.Open(0, nullptr) != 0) {
        state.SkipWithError("Open failed");
        return;
    }
    _PELKOR_MSG_HEADER header = {1, 2, {}, 4, 2, {10, 20}};
    static uint8_t out[kDataLen], in[kDataLen];
    void* outBuffers[1] = {out};
    unsigned int outLengths[1] = {kDataLen};
    void* inBuffers[4] = {in};
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER received;

    auto roundTrip = [&](uint64_t* sendAllocs, uint64_t* receiveAllocs) {
        uint64_t before = s_allocations.load(std::memory_order_relaxed);
        int status = lib.SendPelkorMessage(&header, 1, 2, 3, 1, outBuffers, outLengths);
        uint64_t sent = s_allocations.load(std::memory_order_relaxed);
        status |= lib.ReceivePelkorMessage(&info, 0, &received);
        status |= lib.ReceiveBuffers(info.bufLen, inBuffers);
        *sendAllocs += sent - before;
        *receiveAllocs += s_allocations.load(std::memory_order_relaxed) - sent;
        return status;
    };
    uint64_t sendAllocs = 0, receiveAllocs = 0;
    // Until every slot of the driver's queue has held a message, the driver
    // itself still allocates.
    for (int i = 0; i < 256; ++i) {
        roundTrip(&sendAllocs, &receiveAllocs);
    }
    sendAllocs = receiveAllocs = 0;
    for (auto _ : state) {
        if (roundTrip(&sendAllocs, &receiveAllocs) != 0) {
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
    _PELKOR_MSG_HEADER header = {1, 2, {}, 4, 2, {10, 20}};
    static uint8_t out[kDataLen], in[kDataLen];
    void* outBuffers[1] = {out};
    unsigned int outLengths[1] = {kDataLen};
    void* inBuffers[4] = {in};
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER received;
    if (lib->Open(0, nullptr) != 0) state.SkipWithError("Open failed");
    for (auto _ : state) {
        if ((lib->SendPelkorMessage(&header, 1, 2, 3, 1, outBuffers, outLengths) |
             lib->ReceivePelkorMessage(&info, 0, &received) |
             lib->ReceiveBuffers(info.bufLen, inBuffers)) != 0) {
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
void BM_DriverFloor(benchmark::State& state) {
    SimDriver sim;
    sim.loopback = true;
    sim.record = false;
    const int fd = g_unixSystemCalls.open("/dev/zb5t", 0);
    static uint8_t block[48 + 56], rx[48 + 56], out[kDataLen], in[kDataLen];
    PK_MSG_DESC desc = {1, 0, 2, 0, 1, 3, 2, {56, kDataLen, 0, 0, 0}};
    std::memcpy(block, &desc, sizeof desc);
    const PK_SEND_REQUEST sendBlock = {reinterpret_cast<uintptr_t>(block), 0, sizeof block, 0};
    const PK_SEND_REQUEST sendData = {0, reinterpret_cast<uintptr_t>(out), 0, kDataLen};
    for (auto _ : state) {
        int failed = g_unixSystemCalls.ioctl(fd, 0x6604, &sendBlock) < 0;
        failed |= g_unixSystemCalls.ioctl(fd, 0x6604, &sendData) < 0;
        struct pollfd entry = {fd, POLLIN, 0};
        failed |= g_unixSystemCalls.poll(&entry, 1, 0) != 1;
        uint32_t wanted = sizeof rx;
        std::memcpy(rx, &wanted, sizeof wanted);
        failed |= g_unixSystemCalls.ioctl(fd, 0x6601, rx) != static_cast<int>(sizeof rx);
        wanted = kDataLen;
        std::memcpy(in, &wanted, sizeof wanted);
        failed |= g_unixSystemCalls.ioctl(fd, 0x6602, in) != static_cast<int>(kDataLen);
        if (failed) {
            state.SkipWithError("driver request failed");
            break;
        }
        benchmark::DoNotOptimize(in);
    }
    g_unixSystemCalls.close(fd);
}
BENCHMARK(BM_DriverFloor);

}  // namespace

BENCHMARK_MAIN();

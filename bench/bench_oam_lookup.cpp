// Board-identity lookups against their floor: one load of the table from
// the segment and a plain search of the loaded records. Run inside
// tests/support/sandbox.sh: it writes the fixed segment "OAM_BoardIDsShadow".
//
// Each benchmark takes the number of reader processes (0: this process
// alone, no fork) and the lookups each reader makes per iteration, the same
// for a lookup and its floor so that the fork weighs alike on both.
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pelklib.h>

#include "oam/board_table_writer.h"
#include "services/pxi.h"

namespace {

const int kBoards = 31;
const uint32_t kLastNumber = 1000 + kBoards - 1;
const char kLastName[] = "board30";

void WriteTable() {
    CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
    CBoardIDShadow records[kBoards];
    for (int i = 0; i < kBoards; ++i) {
        std::string name = "board" + std::string(i < 10 ? "0" : "") + std::to_string(i);
        records[i] = CBoardIDShadow(name.c_str(), 1000 + i, "zb5t", std::to_string(i).c_str());
    }
    writer.Replace(records, kBoards);
}

// The floor: the table's mutex, one load into a private array, a search.
struct Floor {
    CZelStreamableArray<CBoardIDShadow> records{5, 3};
    CZelStreamSharedMemory stream{kBoardIDsShadowName, kBoardIDsShadowSize};
    CZelMutex mutex{0, "OAM_BoardIDsShadowCZelSharedMemoryArray", 0};

    ~Floor() { records.DeleteAll(); }
    void Load() {
        mutex.Lock(-1);
        stream.Flush();
        stream >> records;
    }
};

Floor* s_floor = nullptr;

int LookupByNumber() {
    char name[120];
    return oamShadowBoardLookupByNumber(0, kLastNumber, name, sizeof name);
}

int GetDriverIDs() {
    char driver[120], id[120];
    return oamShadowBoardGetDriverIDs(0, kLastName, driver, sizeof driver, id, sizeof id);
}

int FloorByNumber() {
    s_floor->Load();
    int found = -1;
    for (int i = 0; i < s_floor->records.GetSize() && found < 0; ++i) {
        if (s_floor->records[i].GetNumber() == kLastNumber) found = i;
    }
    char name[120];
    std::strcpy(name, s_floor->records[found].GetName());
    benchmark::DoNotOptimize(name);
    s_floor->mutex.Unlock();
    return found < 0;
}

int FloorDriverIDs() {
    s_floor->Load();
    int lo = 0, hi = s_floor->records.GetSize(), found = -1;
    while (lo < hi && found < 0) {
        int mid = (lo + hi) / 2;
        int order = pxiStricmp(s_floor->records[mid].GetName(), kLastName);
        if (order == 0) found = mid;
        else if (order < 0) lo = mid + 1;
        else hi = mid;
    }
    char driver[120], id[120];
    std::strcpy(driver, s_floor->records[found].GetDriverName());
    std::strcpy(id, s_floor->records[found].GetDriverBoardID());
    benchmark::DoNotOptimize(driver);
    benchmark::DoNotOptimize(id);
    s_floor->mutex.Unlock();
    return found < 0;
}

int Repeat(int (*lookup)(), int64_t count) {
    int failures = 0;
    for (int64_t i = 0; i < count; ++i) failures += lookup() != 0;
    return failures;
}

template <int (*Lookup)()>
void Readers(benchmark::State& state) {
    const int processes = static_cast<int>(state.range(0));
    const int64_t perReader = state.range(1);
    for (auto _ : state) {
        if (processes == 0) {
            if (Repeat(Lookup, perReader) != 0) state.SkipWithError("lookup failed");
            continue;
        }
        pid_t children[8];
        for (int p = 0; p < processes; ++p) {
            children[p] = fork();
            if (children[p] == 0) _exit(Repeat(Lookup, perReader) != 0);
        }
        for (int p = 0; p < processes; ++p) {
            int status = 0;
            waitpid(children[p], &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                state.SkipWithError("reader failed");
            }
        }
    }
    int64_t lookups = state.iterations() * perReader * (processes == 0 ? 1 : processes);
    state.counters["lookups/s"] =
        benchmark::Counter(static_cast<double>(lookups), benchmark::Counter::kIsRate);
}

void Arguments(benchmark::internal::Benchmark* bench, int perReader) {
    bench->Args({0, perReader})->Args({1, perReader})->Args({4, perReader})->UseRealTime();
}

BENCHMARK(Readers<LookupByNumber>)->Apply([](auto* b) { Arguments(b, 20000); });
BENCHMARK(Readers<FloorByNumber>)->Apply([](auto* b) { Arguments(b, 20000); });
BENCHMARK(Readers<GetDriverIDs>)->Apply([](auto* b) { Arguments(b, 20000); });
BENCHMARK(Readers<FloorDriverIDs>)->Apply([](auto* b) { Arguments(b, 20000); });

}  // namespace

int main(int argc, char** argv) {
    WriteTable();
    if (oamShadowInit() != 0) return 1;
    Floor floor;
    s_floor = &floor;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    s_floor = nullptr;
    oamShadowExit();
    return 0;
}

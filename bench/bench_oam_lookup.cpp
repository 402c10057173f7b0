// Board-identity lookups and resolution against their floor: the table's
// mutex, one load of the table from the segment into a private array and a
// plain search of it. Each row is the median of per-pair ratios over
// alternating blocks (with their minimum), in this process alone and with 1
// and 4 reader processes at once (each forked reader makes the same number
// of calls for the path and for its floor, so the forks weigh alike).
// NewPelkLibByBoardNumber (which creates and deletes an unopened object)
// has the floor of one load with both searches of a resolution; its system
// calls per call are counted too.
//
// Run inside tests/support/sandbox.sh: it writes the fixed segment
// "OAM_BoardIDsShadow".
//   build/default/bench/bench_oam_lookup [--pairs=N] [--json=FILE]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <pelklib.h>

#include "bench/paired_ratio.h"
#include "bench/syscall_counter.h"
#include "oam/board_table_writer.h"
#include "services/pxi.h"

namespace {

const int kBoards = 31;
const uint32_t kLastNumber = 1000 + kBoards - 1;
const char kLastName[] = "board30";
const int kPerReader = 2000;

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
    int ByNumber() const {
        for (int i = 0; i < records.GetSize(); ++i) {
            if (records[i].GetNumber() == kLastNumber) return i;
        }
        return -1;
    }
    int ByName(const char* name) const {
        int lo = 0, hi = records.GetSize();
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            const int order = pxiStricmp(records[mid].GetName(), name);
            if (order == 0) return mid;
            if (order < 0) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return -1;
    }
};

Floor* s_floor = nullptr;

bool LookupByNumber() {
    char name[120];
    return oamShadowBoardLookupByNumber(0, kLastNumber, name, sizeof name) == 0;
}

bool GetDriverIDs() {
    char driver[120], id[120];
    return oamShadowBoardGetDriverIDs(0, kLastName, driver, sizeof driver, id, sizeof id) == 0;
}

bool CreateByNumber() {
    cPelkLib* lib = NewPelkLibByBoardNumber(static_cast<int>(kLastNumber));
    deletePelkLib(lib);
    return lib != nullptr;
}

bool FloorByNumber() {
    s_floor->Load();
    const int found = s_floor->ByNumber();
    char name[120] = "";
    if (found >= 0) std::strcpy(name, s_floor->records[found].GetName());
    s_floor->mutex.Unlock();
    return found >= 0 && name[0] != '\0';
}

bool FloorDriverIDs() {
    s_floor->Load();
    const int found = s_floor->ByName(kLastName);
    char driver[120] = "", id[120] = "";
    if (found >= 0) {
        std::strcpy(driver, s_floor->records[found].GetDriverName());
        std::strcpy(id, s_floor->records[found].GetDriverBoardID());
    }
    s_floor->mutex.Unlock();
    return found >= 0 && driver[0] != '\0' && id[0] != '\0';
}

// One load with both searches of a resolution: by number, then by name.
bool FloorResolution() {
    s_floor->Load();
    int found = s_floor->ByNumber();
    if (found >= 0) found = s_floor->ByName(s_floor->records[found].GetName());
    const bool zb5t =
        found >= 0 && pxiStricmp(s_floor->records[found].GetDriverName(), "zb5t") == 0;
    s_floor->mutex.Unlock();
    return zb5t;
}

// The operation alone (processes 0), or kPerReader of it in each of
// `processes` forked readers at once.
std::function<bool()> InReaders(bool (*operation)(), int processes) {
    if (processes == 0) return operation;
    return [operation, processes] {
        std::vector<pid_t> children;
        for (int p = 0; p < processes; ++p) {
            const pid_t child = fork();
            if (child == 0) {
                bool ok = true;
                for (int i = 0; i < kPerReader; ++i) ok &= operation();
                _exit(ok ? 0 : 1);
            }
            children.push_back(child);
        }
        bool ok = true;
        for (pid_t child : children) {
            int status = 0;
            waitpid(child, &status, 0);
            ok &= WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        return ok;
    };
}

struct Row {
    std::string name;
    PairedRatio ratio;
    double pathUs;   // one call of the path
    double floorUs;  // one call of the floor
};

}  // namespace

int main(int argc, char** argv) {
    int pairs = 11;
    std::string json;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--pairs=", 0) == 0) {
            pairs = std::max(1, std::atoi(arg.c_str() + 8));
        } else if (arg.rfind("--json=", 0) == 0) {
            json = arg.substr(7);
        } else {
            std::fprintf(stderr, "usage: %s [--pairs=N] [--json=FILE]\n", argv[0]);
            return 2;
        }
    }
    WriteTable();
    if (oamShadowInit() != 0) return 1;
    Floor floor;
    s_floor = &floor;

    const struct {
        const char* name;
        bool (*path)();
        bool (*floor)();
        bool readers;
    } cases[] = {{"LookupByNumber", LookupByNumber, FloorByNumber, true},
                 {"GetDriverIDs", GetDriverIDs, FloorDriverIDs, true},
                 {"NewPelkLibByBoardNumber", CreateByNumber, FloorResolution, false}};
    std::vector<Row> rows;
    bool failed = false;
    std::printf("| path | ratio | min | path us | floor us |\n|---|---|---|---|---|\n");
    for (const auto& c : cases) {
        for (int processes : {0, 1, 4}) {
            if (processes > 0 && !c.readers) continue;
            const std::string who = processes == 0   ? "in this process"
                                    : processes == 1 ? "1 reader process"
                                                     : "4 reader processes";
            Row row;
            row.name = std::string(c.name) + ", " + who;
            row.ratio =
                MeasurePaired(InReaders(c.path, processes), InReaders(c.floor, processes), pairs);
            const double calls = processes == 0 ? 1 : static_cast<double>(kPerReader) * processes;
            row.pathUs = row.ratio.pathUs / calls;
            row.floorUs = row.ratio.floorUs / calls;
            failed |= row.ratio.failed;
            std::printf("| %s | %.2f | %.2f | %.3f | %.3f |\n", row.name.c_str(), row.ratio.median,
                        row.ratio.minimum, row.pathUs, row.floorUs);
            rows.push_back(row);
        }
    }

    constexpr int kCounted = 1000;
    SyscallCounter calls(0, {});
    calls.Start();
    for (int i = 0; i < kCounted; ++i) failed |= !CreateByNumber();
    calls.Stop();
    const double perCall = calls.Ok() ? static_cast<double>(calls.Total()) / kCounted : -1;
    if (calls.Ok()) {
        std::printf("NewPelkLibByBoardNumber: %.2f system calls per call\n", perCall);
    } else {
        std::printf("NewPelkLibByBoardNumber: system calls not counted (%s)\n",
                    calls.Error().c_str());
    }
    if (!json.empty()) {
        FILE* out = std::fopen(json.c_str(), "w");
        if (out != nullptr) {
            std::fprintf(out, "{\"resolution_syscalls\": %.3f, \"rows\": [\n", perCall);
            for (size_t i = 0; i < rows.size(); ++i) {
                const Row& r = rows[i];
                std::fprintf(out,
                             " {\"name\": \"%s\", \"median\": %.4f, \"minimum\": %.4f, "
                             "\"path_us\": %.4f, \"floor_us\": %.4f, \"failed\": %d}%s\n",
                             r.name.c_str(), r.ratio.median, r.ratio.minimum, r.pathUs, r.floorUs,
                             r.ratio.failed, i + 1 < rows.size() ? "," : "");
            }
            std::fprintf(out, "]}\n");
            std::fclose(out);
        }
    }
    s_floor = nullptr;
    oamShadowExit();
    if (failed) std::printf("SOME CALLS FAILED\n");
    return failed ? 1 : 0;
}

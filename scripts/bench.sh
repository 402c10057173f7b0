#!/usr/bin/env bash
# Builds the default preset's benchmarks, runs each (the emulator and table
# benchmarks inside tests/support/sandbox.sh, as they use fixed names under
# /dev and /dev/shm) and prints one table: each path, its time per
# operation, the floor measured in the same run, their ratio, and heap
# allocations per message where the benchmark counts them. With the Python
# module built, Python's round trips through zbhost are timed beside the
# same from C++ (bench/bench_python_roundtrip.py). The benchmarks'
# JSON results stay in build/default/bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j2 \
    --target bench_unix_roundtrip bench_emu_roundtrip bench_oam_lookup zbhost >/dev/null
python_module=$(grep -c '^PELK_BUILD_PYTHON:BOOL=ON' build/default/CMakeCache.txt || true)
if [ "$python_module" = 1 ]; then
    cmake --build --preset default -j2 --target pelk_python pelk_tool >/dev/null
fi

bin=build/default/bench
results=$bin/results
mkdir -p "$results"
run() {  # name [sandbox]
    local program=("$(realpath "$bin/$1")")
    if [ "${2:-}" = sandbox ]; then
        program=(tests/support/sandbox.sh "${program[@]}")
    fi
    "${program[@]}" --benchmark_out="$(realpath "$results")/$1.json" \
        --benchmark_out_format=json >"$results/$1.log" 2>&1
}
run bench_unix_roundtrip
run bench_emu_roundtrip sandbox
run bench_oam_lookup sandbox
# Through pelkd: its own table after the others (bench/remote_table.py).
cmake --build --preset default -j2 --target bench_remote_roundtrip pelkd_memory >/dev/null
for program in bench_remote_roundtrip pelkd_memory; do
    tests/support/sandbox.sh "$(realpath "$bin/$program")" "$(realpath "$results")/$program.json" \
        >"$results/$program.log" 2>&1
done
if [ "$python_module" = 1 ]; then
    PYTHONPATH=build/default/python tests/support/sandbox.sh /usr/bin/python3 \
        bench/bench_python_roundtrip.py build/default/tools/zbhost/zbhost \
        build/default/tools/pelk/pelk "$results/bench_python_roundtrip.json" \
        >"$results/bench_python_roundtrip.log" 2>&1
fi

python3 - "$results" <<'EOF'
import json, sys

results = sys.argv[1]

def load(name):
    with open(f"{results}/{name}.json") as f:
        return {b["name"]: b for b in json.load(f)["benchmarks"]}

def us(b):  # real time per iteration in microseconds
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]]
    return b["real_time"] * scale

rows = []
unix = load("bench_unix_roundtrip")
lib, floor = unix["BM_LibraryRoundTrip"], unix["BM_DriverFloor"]
allocs = lib.get("send_allocs_per_msg", 0) + lib.get("receive_allocs_per_msg", 0)
rows.append(("kernel driver: round trip (56+1024 B)", us(lib), us(floor), f"{allocs:.2f}"))
rows.append(("kernel driver: round trip, captured", us(unix["BM_CapturedRoundTrip/iterations:20000"]),
             us(lib), "-"))

emu = load("bench_emu_roundtrip")
def median(name):  # the median of a repeated benchmark
    return next(b for n, b in emu.items()
                if n.startswith(name + "/") and b.get("aggregate_name") == "median")
inter = median("BM_InterleavedRatio")
rows.append(("emulator: round trip (56+1024 B), interleaved",
             1e6 / inter["library_msg/s"], 1e6 / inter["floor_msg/s"], "-"))
captured = median("BM_CapturedRatio/iterations:300")
rows.append(("emulator: round trip, captured (floor: uncaptured)",
             1e6 / captured["captured_msg/s"], 1e6 / captured["plain_msg/s"], "-"))
rows.append(("emulator: round trip, separate runs",
             us(median("BM_LibraryRoundTrip")), us(median("BM_FloorRoundTrip")), "-"))

oam = load("bench_oam_lookup")
def rate(prefix, readers):
    for name, b in oam.items():
        if name.startswith(f"{prefix}/{readers}/"):
            return b["lookups/s"]
    raise KeyError(prefix)
for lookup, floor in (("LookupByNumber", "FloorByNumber"), ("GetDriverIDs", "FloorDriverIDs")):
    for readers in (0, 1, 4):
        who = {0: "in this process", 1: "1 reader process"}.get(readers, f"{readers} reader processes")
        rows.append((f"table: {lookup}, {who}",
                     1e6 / rate(f"Readers<{lookup}>", readers),
                     1e6 / rate(f"Readers<{floor}>", readers), "-"))

python = f"{results}/bench_python_roundtrip.json"
try:
    with open(python) as f:
        py = json.load(f)
    # The C++ rate is the floor; the ratio is of the paired blocks.
    rows.append(("python: round trip (56+1024 B) vs C++ pelk ping",
                 1e6 / py["python_round_trips_per_s"], 1e6 / py["cpp_round_trips_per_s"],
                 "-", 1 / py["ratio"]))
except FileNotFoundError:
    pass

header = ("path", "us/op", "floor us/op", "ratio", "allocs/msg")
table = [header] + [(p, f"{v:.3f}", f"{f:.3f}", f"{(r[0] if r else v / f):.2f}", a)
                    for p, v, f, a, *r in rows]
widths = [max(len(r[i]) for r in table) for i in range(len(header))]
for i, row in enumerate(table):
    print("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
    if i == 0:
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
EOF
echo
bench/remote_table.py "$results"

#!/usr/bin/env bash
# Builds the default preset's benchmarks, runs each (the emulator and table
# benchmarks inside tests/support/sandbox.sh, as they use fixed names under
# /dev and /dev/shm) and prints the tables: each path against its floor as
# the median of per-pair ratios over alternating blocks of one run (with the
# smallest ratio), system calls and heap allocations per message where the
# benchmark counts them, the emulator under 1 to 16 clients, and the load
# average the run saw. With the Python module built, Python's round trips
# through zbhost are timed beside the same from C++
# (bench/bench_python_roundtrip.py), and round trips through pelkd beside the
# local emulator's (bench/remote_table.py). The benchmarks' logs and JSON results
# stay in build/default/bench/results/.
#   scripts/bench.sh [PAIRS]    (alternating pairs per figure, 11 unless given)
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-11}

cmake --preset default >/dev/null
cmake --build --preset default -j2 \
    --target bench_unix_roundtrip bench_emu_roundtrip bench_oam_lookup zbhost >/dev/null
python_module=$(grep -c '^PELK_BUILD_PYTHON:BOOL=ON' build/default/CMakeCache.txt || true)
if [ "$python_module" = 1 ]; then
    cmake --build --preset default -j2 --target pelk_python pelk_tool >/dev/null
fi

bin=build/default/bench
results=$(realpath -m "$bin/results")
mkdir -p "$results"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$bin/bench_unix_roundtrip" --benchmark_out="$results/bench_unix_roundtrip.json" \
    --benchmark_out_format=json --paired_json="$results/unix_paired.json" \
    >"$results/bench_unix_roundtrip.log" 2>&1
tests/support/sandbox.sh "$(realpath "$bin/bench_emu_roundtrip")" --pairs="$pairs" \
    --json="$results/bench_emu_roundtrip.json" >"$results/bench_emu_roundtrip.log" 2>&1 || {
    cat "$results/bench_emu_roundtrip.log"
    exit 1
}
tests/support/sandbox.sh "$(realpath "$bin/bench_oam_lookup")" --pairs="$pairs" \
    --json="$results/bench_oam_lookup.json" >"$results/bench_oam_lookup.log" 2>&1 || {
    cat "$results/bench_oam_lookup.log"
    exit 1
}
# Through pelkd: its own table after the others (bench/remote_table.py).
cmake --build --preset default -j2 --target bench_remote_roundtrip pelkd_memory >/dev/null
for program in bench_remote_roundtrip pelkd_memory; do
    tests/support/sandbox.sh "$(realpath "$bin/$program")" "$results/$program.json" \
        >"$results/$program.log" 2>&1 || {
        cat "$results/$program.log"
        exit 1
    }
done
if [ "$python_module" = 1 ]; then
    PYTHONPATH=build/default/python tests/support/sandbox.sh /usr/bin/python3 \
        bench/bench_python_roundtrip.py build/default/tools/zbhost/zbhost \
        build/default/tools/pelk/pelk "$results/bench_python_roundtrip.json" \
        >"$results/bench_python_roundtrip.log" 2>&1
fi
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$results" "$load_before" "$load_after" <<'EOF'
import json, sys

results, load_before, load_after = sys.argv[1:4]

def load(name):
    with open(f"{results}/{name}.json") as f:
        return json.load(f)

def table(header, rows):
    cells = [header] + [[str(c) for c in row] for row in rows]
    widths = [max(len(r[i]) for r in cells) for i in range(len(header))]
    for i, row in enumerate(cells):
        print("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
        if i == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    print()

def size_name(n):
    for unit, scale in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= scale:
            return f"{n // scale} {unit}"
    return f"{n} B"

rows = []
unix = load("unix_paired")
allocs = {b["name"]: b for b in load("bench_unix_roundtrip")["benchmarks"]}["BM_LibraryRoundTrip"]
rows.append(("kernel driver: round trip (56+1024 B)", f"{unix['median']:.2f}",
             f"{unix['minimum']:.2f}", f"{unix['path_us']:.3f}", f"{unix['floor_us']:.3f}",
             f"{allocs['send_allocs_per_msg'] + allocs['receive_allocs_per_msg']:.2f}"))
emu = load("bench_emu_roundtrip")
for s in emu["sizes"]:
    r = s["ratio"]
    rows.append((f"emulator: round trip, {size_name(s['size'])} data (floor: FIFO echo)",
                 f"{r['median']:.2f}", f"{r['minimum']:.2f}", f"{r['path_us']:.2f}",
                 f"{r['floor_us']:.2f}", f"zbhost {s['zbhost_allocs']:.3f}"))
c = emu["captured"]
rows.append(("emulator: round trip 1 KiB, captured (floor: uncaptured)", f"{c['median']:.2f}",
             f"{c['minimum']:.2f}", f"{c['path_us']:.2f}", f"{c['floor_us']:.2f}", "-"))
oam = load("bench_oam_lookup")
for r in oam["rows"]:
    rows.append((f"table: {r['name']}", f"{r['median']:.2f}", f"{r['minimum']:.2f}",
                 f"{r['path_us']:.3f}", f"{r['floor_us']:.3f}", "-"))
try:
    py = load("bench_python_roundtrip")
    rows.append(("python: round trip (56+1024 B) vs C++ pelk ping", f"{1 / py['ratio']:.2f}",
                 "-", f"{1e6 / py['python_round_trips_per_s']:.2f}",
                 f"{1e6 / py['cpp_round_trips_per_s']:.2f}", "-"))
except FileNotFoundError:
    pass
print(f"load average: {load_before} before, {load_after} after\n")
table(("path", "ratio (median)", "min", "us/op", "floor us/op", "allocs/msg"), rows)

def calls(c):
    if c.get("unavailable"):
        return "n/a"
    return f"{c['total']:.2f}"
table(("data", "client calls/rt", "client, not the wait", "zbhost calls/rt",
       "floor client", "floor echo"),
      [(size_name(s["size"]), calls(s["client"]),
        f"{s['client']['total'] - s['client']['wait']:.2f}", calls(s["zbhost"]),
        calls(s["floor_client"]), calls(s["echo"])) for s in emu["sizes"]])
table(("data", "clients", "total rt/s", "slowest rt/s", "p50 us", "p99 us",
       "zbhost CPU us/rt", "zbhost calls/rt", "zbhost allocs/rt"),
      [(size_name(c["size"]), c["clients"], f"{c['total_rate']:.0f}",
        f"{c['slowest_rate']:.0f}", f"{c['p50_us']:.1f}", f"{c['p99_us']:.1f}",
        f"{c['zbhost_cpu_us']:.2f}", f"{c['zbhost_syscalls']:.2f}",
        f"{c['zbhost_allocs']:.3f}") for c in emu["clients"]])
print(f"NewPelkLibByBoardNumber: {oam['resolution_syscalls']:.2f} system calls per call")
EOF
echo
bench/remote_table.py "$results"

"""Round trips per second through zbhost from Python (module pelk) beside
the same round trips from C++ (`pelk ping`), in alternating blocks of one
run: a protocol message with a 56-byte header and one 1024-byte data
buffer, echoed and checked. The ratio is the median over the blocks of
Python's rate over the C++ rate of the block before it; goal at least 0.8. Run inside tests/support/sandbox.sh with the
module on PYTHONPATH:

    bench_python_roundtrip.py ZBHOST PELK_TOOL RESULT.json
"""
import json
import os
import resource
import statistics
import subprocess
import sys
import time

import pelk

SIZE = 1024
BLOCK = 2000  # round trips per block
BLOCKS = 7


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def python_rate(board, data, cpu):
    header = pelk.PelkorHeader(params=[SIZE])
    start, started = time.perf_counter(), time.process_time()
    for tag in range(1, BLOCK + 1):
        header.word0 = tag
        board.send_pelkor(header, data, dst=(1, 0), tag=tag)
        answer = board.receive_pelkor(5000)
        if answer.tag != tag or answer.header != header or answer.buffers != [data]:
            raise RuntimeError(f"round trip {tag} came back changed")
    cpu.append((time.process_time() - started) / BLOCK * 1e6)
    return BLOCK / (time.perf_counter() - start)


def cpp_rate(pelk_tool, cpu):
    started = children_cpu()
    output = subprocess.run([pelk_tool, "ping", "--driver", "zbhost", "--count", str(BLOCK),
                             "--size", str(SIZE), "--json"],
                            check=True, capture_output=True, text=True).stdout
    cpu.append((children_cpu() - started) / BLOCK * 1e6)
    return json.loads(output)["roundTripsPerSecond"]


def main():
    zbhost_path, pelk_tool, result = sys.argv[1:4]
    zbhost = subprocess.Popen([zbhost_path])
    try:
        while not os.path.exists("/dev/ZBHostManagerIn"):
            time.sleep(0.01)
        data = bytes(ord("a") + i % 26 for i in range(SIZE))
        python, cpp, python_cpu, cpp_cpu = [], [], [], []
        with pelk.Board("zbhost") as board:
            python_rate(board, data, [])  # warm-up
            for _ in range(BLOCKS):
                cpp.append(cpp_rate(pelk_tool, cpp_cpu))
                python.append(python_rate(board, data, python_cpu))
    finally:
        zbhost.terminate()
        zbhost.wait()
    # Each Python block beside the C++ block just before it: the machine's
    # load weighs on both alike.
    summary = {"python_round_trips_per_s": statistics.median(python),
               "cpp_round_trips_per_s": statistics.median(cpp),
               "ratio": statistics.median(p / c for p, c in zip(python, cpp)),
               # CPU time of the client process per round trip (C++: the
               # whole pelk run), which a busy machine disturbs less.
               "python_cpu_us": statistics.median(python_cpu),
               "cpp_cpu_us": statistics.median(cpp_cpu),
               "python_blocks": python, "cpp_blocks": cpp}
    with open(result, "w") as f:
        json.dump(summary, f, indent=1)
    print(json.dumps(summary))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Prints the table of the remote benchmarks from their JSON results:
bench_remote_roundtrip (round trips through pelkd paired with the local
emulator's) and pelkd_memory (pelkd's resident size per session).

usage: remote_table.py RESULTS_DIR
"""
import json
import sys

results = sys.argv[1]
with open(f"{results}/bench_remote_roundtrip.json") as f:
    rows = json.load(f)["rows"]
with open(f"{results}/pelkd_memory.json") as f:
    memory = json.load(f)

table = [("path", "us/op", "local emulator us/op", "median ratio")]
table += [(r["path"], f"{r['remote_us']:.1f}", f"{r['local_us']:.1f}", f"{r['ratio']:.2f}")
          for r in rows]
widths = [max(len(row[i]) for row in table) for i in range(len(table[0]))]
for i, row in enumerate(table):
    print("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
    if i == 0:
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
print()
print(f"pelkd resident: {memory['idle_kib']} KiB idle; "
      f"{memory['per_idle_session_kib']:.1f} KiB per idle session "
      f"({memory['idle_sessions']} open: {memory['with_idle_sessions_kib']} KiB); "
      f"peak {memory['busy_peak_kib']} KiB with {memory['busy_clients']} clients busy")

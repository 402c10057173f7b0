#!/usr/bin/env python3
"""Round trips to a board: send a protocol message with one data buffer,
receive the answer, check it came back unchanged, print the latencies.

    ping.py [--board N] [--count 10] [--size 64] [--timeout 5000]

Without --board it talks to the zbhost emulator (start zbhost first).
"""
import argparse
import statistics
import sys
import time

import pelk


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--board", type=int, help="logical board number in the table")
    parser.add_argument("--count", type=int, default=10)
    parser.add_argument("--size", type=int, default=64, help="data bytes per message")
    parser.add_argument("--timeout", type=int, default=5000, help="milliseconds per answer")
    args = parser.parse_args()

    data = bytes(ord("a") + i % 26 for i in range(args.size))
    buffers = [data] if data else []  # an empty buffer comes back as none
    try:
        board = pelk.Board.by_number(args.board) if args.board is not None else pelk.Board()
    except pelk.Error as error:
        sys.exit(f"ping: cannot open the board: {error}")
    latencies = []
    with board:
        for tag in range(1, args.count + 1):
            header = pelk.PelkorHeader(word0=tag, params=[len(data)])
            start = time.perf_counter()
            board.send_pelkor(header, *buffers, dst=(1, board.id), tag=tag)
            try:
                answer = board.receive_pelkor(args.timeout)
            except pelk.Timeout:
                sys.exit(f"ping: no answer to round trip {tag} within {args.timeout} ms")
            latencies.append((time.perf_counter() - start) * 1e6)
            if answer.tag != tag or answer.header != header or answer.buffers != buffers:
                sys.exit(f"ping: round trip {tag} came back changed: {answer}")
    print(f"{args.count} round trips, {len(data)} data bytes each: "
          f"min {min(latencies):.1f} us, median {statistics.median(latencies):.1f} us, "
          f"max {max(latencies):.1f} us")


if __name__ == "__main__":
    main()

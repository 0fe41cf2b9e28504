#!/usr/bin/env python3
"""Peer of bench_store_scan: reads the header of every *.eml file in a folder with
email.parser.BytesHeaderParser, as a mailbox listing would.

usage: store_scan_peer.py FOLDER REPETITIONS
prints: best_seconds bytes_read_per_letter letters
"""
import os
import sys
import time
from email.parser import BytesHeaderParser


def bytes_read():
    with open("/proc/self/io") as f:
        for line in f:
            if line.startswith("rchar:"):
                return int(line.split()[1])
    return 0


def scan(folder, parser):
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".eml"))
    headers = []
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            m = parser.parse(f)
            headers.append((m["From"], m["To"], m["Subject"], m["Date"]))
    return headers


def main():
    folder, reps = sys.argv[1], int(sys.argv[2])
    parser = BytesHeaderParser()
    best, per_letter, letters = float("inf"), 0, 0
    for _ in range(reps):
        r0, t0 = bytes_read(), time.perf_counter()
        headers = scan(folder, parser)
        elapsed, r1 = time.perf_counter() - t0, bytes_read()
        letters = len(headers)
        if elapsed < best:
            best = elapsed
            per_letter = (r1 - r0) // max(1, letters)
    print(f"{best:.6f} {per_letter} {letters}")


if __name__ == "__main__":
    main()

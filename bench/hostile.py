#!/usr/bin/env python3
"""Hostile and huge calendar files: each shape at three sizes, each a store of
its own listed by `tallowick events` (first run, cache deleted, and warm), to
show that the cost grows with the size of the file and no faster, and that a
file skipped for its shape costs next to nothing once its verdict is kept.
Writes bench/out/hostile.md. Usage: bench/run, or bench/hostile.py --build DIR.
"""

import argparse
import json
import os
import shutil
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from expansion import ROOT, HERE, calendar, event, make_store, run  # noqa: E402


def lines_event(line, n):
    return calendar(event("h", ["DTSTART:20240601T090000Z"] + [line] * n))


SHAPES = [
    ("one line of N x 100 bytes", lambda n: calendar(event("h", ["DTSTART:20240601T090000Z",
                                                              "DESCRIPTION:" + "a" * (n * 100)]))),
    ("N parameters on one line", lambda n: calendar(event("h", ["DTSTART:20240601T090000Z",
                                                             "X-Q" + ";A=b" * n + ":v"]))),
    ("N unreadable dates in one event", lambda n: lines_event("DTSTART:not a time", n)),
    ("N events with an unreadable rule", lambda n: calendar("".join(
        event("e%d" % i, ["DTSTART:20240601T090000Z", "RRULE:bad"]) for i in range(n)))),
    ("N EXDATEs on one line", lambda n: calendar(event("h", ["DTSTART:20240601T090000Z", "RRULE:FREQ=DAILY",
                                                          "EXDATE:" + ",".join(["20240602T090000Z"] * n)]))),
    ("N levels of nesting", lambda n: calendar("BEGIN:X-N\r\n" * n + "END:X-N\r\n" * n)),
    ("N/10 SECONDLY rules, COUNT 90M, BYMINUTE", lambda n: calendar(event("h", ["DTSTART:20240101T000000Z"] + [
        "RRULE:FREQ=SECONDLY;COUNT=90000000;BYMINUTE=%d" % (i % 60) for i in range(n // 10)]))),
]
SIZES = [2500, 5000, 10000]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    tallowick = os.path.join(args.build, "tallowick", "tallowick")
    out = os.path.abspath(os.path.join(args.out, "hostile"))
    rows = []
    for index, (name, make) in enumerate(SHAPES):
        for n in SIZES:
            home = os.path.join(out, "s%02d-%d" % (index, n))
            text = make(n)
            env = make_store(home, {"a.ics": text}, "UTC")
            cmd = [tallowick, "events", "2024-06-01", "2024-06-07"]
            first, warm = [], []
            for _ in range(args.runs):
                shutil.rmtree(os.path.join(home, "cache"), ignore_errors=True)
                first.append(run(cmd, env)[0])
            for _ in range(args.runs):
                warm.append(run(cmd, env)[0])
            _, _, status, output, _ = run(cmd, env, keep=True)
            listed = len(json.loads(output)) if status == 0 else "status %d" % status
            row = {"shape": name.replace("N", str(n), 1), "bytes": len(text), "listed": listed,
                   "first_ms": statistics.median(first) * 1000, "warm_ms": statistics.median(warm) * 1000}
            rows.append(row)
            print("%-50s %10d bytes  %6s listed  first %8.1f ms  warm %8.1f ms" %
                  (row["shape"], row["bytes"], listed, row["first_ms"], row["warm_ms"]), flush=True)
    with open(os.path.join(args.out, "hostile.md"), "w") as f:
        f.write("| Shape | Bytes | Listed | First run (ms) | Warm (ms) |\n|---|---|---|---|---|\n")
        for r in rows:
            f.write("| %s | %d | %s | %.1f | %.1f |\n" % (r["shape"], r["bytes"], r["listed"], r["first_ms"],
                                                         r["warm_ms"]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Event expansion on pathological calendars: one store per case, each listed by
`tallowick events` end to end (JSON included), warm (cache built) and first run
(cache deleted before the run). Reports the occurrences listed, the median time
and the peak memory of each case; writes bench/out/expansion.md and .json.
Usage: bench/run, or bench/expansion.py --build build-bench after a build.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def calendar(body):
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n" + body + "END:VCALENDAR\r\n"


def event(uid, lines):
    return "BEGIN:VEVENT\r\nUID:%s\r\nSUMMARY:%s\r\n%sEND:VEVENT\r\n" % (uid, uid, "".join(l + "\r\n" for l in lines))


def stamp(day, second):
    return "%sT%02d%02d%02dZ" % (day, second // 3600, second // 60 % 60, second % 60)


def daily_dates(start_year, count):
    import datetime
    d = datetime.date(start_year, 1, 1)
    out = []
    for _ in range(count):
        out.append(d.strftime("%Y%m%d"))
        d += datetime.timedelta(days=1)
    return out


def malformed_file():
    # Lines libical reports as errors: its parser slows down with the square
    # of their number.
    body = "BEGIN:VEVENT\r\nUID:bad\r\n" + "DTSTART:not a time\r\n" * 17000 + "END:VEVENT\r\n"
    return calendar(body)


SECONDLY_OBSERVANCE = (
    "BEGIN:VTIMEZONE\r\nTZID:Odd\r\nBEGIN:DAYLIGHT\r\nDTSTART:19700101T000000\r\nTZOFFSETFROM:+0100\r\n"
    "TZOFFSETTO:+0200\r\nRRULE:FREQ=SECONDLY\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\n"
    "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\n"
    "END:VTIMEZONE\r\n")

# name, files {name: text}, window
CASES = [
    ("HOURLY from 2000, one day in 2024", {"a.ics": calendar(event("h", ["DTSTART:20000101T000000Z", "RRULE:FREQ=HOURLY"]))},
     ("2024-05-01", "2024-05-01")),
    ("HOURLY from 0001, one day in 2024", {"a.ics": calendar(event("h", ["DTSTART:00010101T000000Z", "RRULE:FREQ=HOURLY"]))},
     ("2024-05-01", "2024-05-01")),
    ("SECONDLY from 40 days before, one day", {"a.ics": calendar(event("s", ["DTSTART:20240322T000000Z", "RRULE:FREQ=SECONDLY"]))},
     ("2024-05-01", "2024-05-01")),
    ("SECONDLY from 2000, one day in 2024", {"a.ics": calendar(event("s", ["DTSTART:20000101T000000Z", "RRULE:FREQ=SECONDLY"]))},
     ("2024-05-01", "2024-05-01")),
    ("MINUTELY COUNT=5000000, day after its end", {"a.ics": calendar(event("m", ["DTSTART:20200101T000000Z",
                                                                                "RRULE:FREQ=MINUTELY;COUNT=5000000"]))},
     ("2030-01-01", "2030-01-01")),
    ("MINUTELY COUNT=5000000, a day inside", {"a.ics": calendar(event("m", ["DTSTART:20200101T000000Z",
                                                                           "RRULE:FREQ=MINUTELY;COUNT=5000000"]))},
     ("2027-06-01", "2027-06-01")),
    ("MINUTELY BYHOUR=9,17 COUNT=5000000, a day inside", {"a.ics": calendar(event("m", [
        "DTSTART:20200101T090000Z", "RRULE:FREQ=MINUTELY;BYHOUR=9,17;COUNT=5000000"]))},
     ("2060-06-01", "2060-06-01")),
    ("30,000 RDATEs, one year", {"a.ics": calendar(event("r", ["DTSTART:20000101T100000Z"] +
                                                        ["RDATE:%sT100000Z" % d for d in daily_dates(2000, 30000)]))},
     ("2040-01-01", "2040-12-31")),
    ("50,000 EXDATEs on a daily rule, one year", {"a.ics": calendar(event("x", ["DTSTART:19000101T100000Z", "RRULE:FREQ=DAILY"] +
                                                                          ["EXDATE:%sT100000Z" % d for d in daily_dates(1900, 50000)]))},
     ("2036-06-01", "2037-05-31")),
    ("SECONDLY, 100,000 in the window", {"a.ics": calendar(event("s", ["DTSTART:20240501T000000Z",
                                                                       "RRULE:FREQ=SECONDLY;COUNT=100000"]))},
     ("2024-05-01", "2024-05-02")),
    ("DAILY over 200 years", {"a.ics": calendar(event("d", ["DTSTART:19000101T100000Z", "RRULE:FREQ=DAILY"]))},
     ("2000-01-01", "2199-12-31")),
    ("DAILY, 2024-01-01 to 9999-12-31", {"a.ics": calendar(event("d", ["DTSTART:19000101T100000Z", "RRULE:FREQ=DAILY"]))},
     ("2024-01-01", "9999-12-31")),
    ("YEARLY all-day COUNT=600, June 2500", {"a.ics": calendar(event("y", ["DTSTART;VALUE=DATE:20000615",
                                                                          "RRULE:FREQ=YEARLY;COUNT=600"]))},
     ("2500-06-01", "2500-06-30")),
    ("YEARLY New York, 2500 to 2700", {"a.ics": calendar(event("y", ["DTSTART;TZID=America/New_York:20000704T100000",
                                                                    "RRULE:FREQ=YEARLY"]))},
     ("2500-01-01", "2700-12-31")),
    ("single event in 3001", {"a.ics": calendar(event("f", ["DTSTART:30010615T100000Z"]))}, ("3001-06-01", "3001-06-30")),
    ("VTIMEZONE with a SECONDLY observance", {"a.ics": calendar(SECONDLY_OBSERVANCE + event("o", [
        "DTSTART;TZID=Odd:20240601T100000", "RRULE:FREQ=DAILY"]))}, ("2024-06-01", "2024-06-30")),
    ("malformed 323 KB file", {"a.ics": malformed_file()}, ("2024-06-01", "2024-06-30")),
    ("DURATION:P99999999W", {"a.ics": calendar(event("w", ["DTSTART:20240601T100000Z", "DURATION:P99999999W"]))},
     ("2024-06-01", "2024-06-30")),
]


def make_store(home, files, zone):
    """A fresh store of one collection holding `files` (name to text) under `home`, events access granted; the
    environment a run of it takes."""
    shutil.rmtree(home, ignore_errors=True)
    store = os.path.join(home, "store")
    os.makedirs(os.path.join(store, "cal"))
    for file_name, text in files.items():
        with open(os.path.join(store, "cal", file_name), "w", newline="") as f:
            f.write(text)
    config = os.path.join(home, "config")
    os.makedirs(os.path.join(config, "vantrel"))
    with open(os.path.join(config, "vantrel", "calendar.json"), "w") as f:
        json.dump({"store": store, "access": {"events": "full-access"}}, f)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(TZ=zone, XDG_CONFIG_HOME=config, XDG_CACHE_HOME=os.path.join(home, "cache"),
               XDG_DATA_HOME=os.path.join(home, "data"))
    return env


def run(cmd, env, keep=False):
    """(seconds, max RSS KiB, status, stdout, CPU seconds). The peak memory comes from GNU time: a child of this process
    would report this process's own peak once the answer of a big case has been read. Unless `keep`, the answer is read
    through the pipe as a host would and dropped, so that holding hundreds of megabytes here is not timed."""
    start = time.perf_counter()
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M %U %S"] + cmd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if keep:
        out, err = proc.communicate()
    else:
        out = b""
        while proc.stdout.read(1 << 20):
            pass
        err = proc.stderr.read()
        proc.wait()
    elapsed = time.perf_counter() - start
    rss, user, system = err.decode().strip().splitlines()[-1].split()
    return elapsed, int(rss), proc.returncode, out, float(user) + float(system)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", default="", help="run the cases whose name holds this text")
    args = parser.parse_args()
    tallowick = os.path.join(args.build, "tallowick", "tallowick")
    out = os.path.abspath(os.path.join(args.out, "expansion"))
    rows = []
    for index, (name, files, (start, end)) in enumerate(CASES):
        if args.only not in name:
            continue
        home = os.path.join(out, "case%02d" % index)
        env = make_store(home, files, "Europe/Berlin")
        cmd = [tallowick, "events", start, end]
        first, count = [], None
        for _ in range(args.runs):
            shutil.rmtree(os.path.join(home, "cache"), ignore_errors=True)
            seconds, rss, status, output, cpu = run(cmd, env)
            first.append((seconds, rss, cpu))
        _, _, status, output, _ = run(cmd, env, keep=True)
        count = len(json.loads(output)) if status == 0 else None
        warm = []
        for _ in range(args.runs):
            seconds, rss, _, _, cpu = run(cmd, env)
            warm.append((seconds, rss, cpu))
        row = {
            "case": name, "window": "%s..%s" % (start, end), "occurrences": count,
            "first_ms": statistics.median(t for t, _, _ in first) * 1000,
            "warm_ms": statistics.median(t for t, _, _ in warm) * 1000,
            "warm_cpu_ms": statistics.median(c for _, _, c in warm) * 1000,
            "max_rss_mib": max(r for _, r, _ in first + warm) / 1024,
        }
        # A shared machine may leave the process waiting for a core: the rate
        # is also given per second of CPU (user and system).
        row["per_second"] = count / (row["warm_ms"] / 1000) if count else 0
        row["per_cpu_second"] = count / max(row["warm_cpu_ms"] / 1000, 0.001) if count else 0
        rows.append(row)
        print("%-50s %9s occurrences  first %8.1f ms  warm %8.1f ms (CPU %8.1f ms)  %6.1f MiB" %
              (name, count, row["first_ms"], row["warm_ms"], row["warm_cpu_ms"], row["max_rss_mib"]), flush=True)
    with open(os.path.join(args.out, "expansion.json"), "w") as f:
        json.dump(rows, f, indent=1)
    with open(os.path.join(args.out, "expansion.md"), "w") as f:
        f.write("| Case | Window | Occurrences | First run (ms) | Warm (ms) | Warm CPU (ms) | Occurrences/s (per CPU s) "
                "| Max RSS (MiB) |\n")
        f.write("|---|---|---|---|---|---|---|---|\n")
        for r in rows:
            rate = "-"
            if r["occurrences"] and r["occurrences"] >= 50000:
                rate = "%.2f M (%.2f M)" % (r["per_second"] / 1e6, r["per_cpu_second"] / 1e6)
            f.write("| %s | %s | %s | %.1f | %.1f | %.1f | %s | %.1f |\n" % (
                r["case"], r["window"], r["occurrences"], r["first_ms"], r["warm_ms"], r["warm_cpu_ms"], rate,
                r["max_rss_mib"]))


if __name__ == "__main__":
    main()

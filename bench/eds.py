#!/usr/bin/env python3
"""tallowick on evolution-data-server (EDS): one week out of 10,000 events.

The events of bench/generate_store.py (same seed) go into five local EDS
calendars of a private EDS (its own session bus and home). The week
2026-06-01..07 is then listed three ways, alternately, first with no other
client of EDS (EDS then reads each calendar file anew, as after a login) and
then while another client holds every calendar open, as GNOME Shell does:

- tallowick events: EDS's components of the window and every recurring one,
  expanded by tallowick's own engine, printed as JSON;
- eds_direct query: a minimal direct libecal client asking the same query
  (the same window tallowick asks EDS for), nothing done with the answer;
- eds_direct instances: e_cal_client_generate_instances_sync over the week.

Target: tallowick at most the direct client's time. Reports, never fails.
Usage: bench/run, or python3 bench/eds.py --build build-bench after building
with -DVANTREL_BENCH=ON.
"""

import argparse
import calendar
import datetime as dt
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
from zoneinfo import ZoneInfo

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import generate_store as gen  # noqa: E402
from measure import describe_machine, peak_rss_kib, run_once  # noqa: E402

WEEK = ("2026-06-01", "2026-06-07")
ZONE = "Europe/Berlin"


def write_calendars(home, events, seed):
    """The generator's events, one EDS calendar per collection; returns its env."""
    rng = random.Random(seed)
    start_day = dt.date.fromisoformat("2026-01-01")
    bodies = {name: [] for name in gen.COLLECTIONS}
    zones = {name: set() for name in gen.COLLECTIONS}
    for i in range(events):
        _, text = gen.event(rng, start_day, i)
        name = gen.COLLECTIONS[i % len(gen.COLLECTIONS)]
        body = text[text.index("BEGIN:VEVENT"):text.index("END:VCALENDAR")]
        bodies[name].append(body)
        for tz in gen.ZONES:
            if "TZID=%s:" % tz in body:
                zones[name].add(tz)
    for name in gen.COLLECTIONS:
        uid = "bench-" + name
        with open(os.path.join(home, "config/evolution/sources", uid + ".source"), "w") as f:
            f.write("[Data Source]\nDisplayName=%s\nEnabled=true\nParent=local-stub\n\n"
                    "[Calendar]\nBackendName=local\nSelected=true\n" % name.capitalize())
        path = os.path.join(home, "data/evolution/calendar", uid)
        os.makedirs(path)
        with open(os.path.join(path, "calendar.ics"), "w", newline="") as f:
            f.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//vantrel//bench//EN\r\n" +
                    "".join(gen.vtimezone(tz) for tz in sorted(zones[name])) + "".join(bodies[name]) +
                    "END:VCALENDAR\r\n")


def wait_for_name(address, name, seconds=30):
    deadline = time.time() + seconds
    while time.time() < deadline:
        out = subprocess.run(["dbus-send", "--bus=" + address, "--print-reply", "--dest=org.freedesktop.DBus",
                              "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name],
                             capture_output=True, text=True).stdout
        if "boolean true" in out:
            return
        time.sleep(0.05)
    raise SystemExit("%s did not start on the private bus" % name)


def start_eds(home, env):
    """dbus-daemon, then EDS's registry and calendar factory; returns the processes."""
    address = "unix:path=" + os.path.join(home, "bus")
    with open(os.path.join(home, "bus.conf"), "w") as f:
        f.write("<busconfig><type>session</type><listen>%s</listen><auth>EXTERNAL</auth>"
                "<standard_session_servicedirs/><policy context=\"default\"><allow send_destination=\"*\" "
                "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n" % address)
    log = open(os.path.join(home, "eds.log"), "w")
    start = lambda argv: subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                          start_new_session=True)
    procs = [start(["dbus-daemon", "--config-file=" + os.path.join(home, "bus.conf"), "--nofork", "--nopidfile"])]
    try:
        while not os.path.exists(os.path.join(home, "bus")):
            time.sleep(0.01)
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        procs.append(start(["/usr/libexec/evolution-source-registry"]))
        wait_for_name(address, "org.gnome.evolution.dataserver.Sources5")
        procs.append(start(["/usr/libexec/evolution-calendar-factory"]))
        wait_for_name(address, "org.gnome.evolution.dataserver.Calendar8")
    except BaseException:
        stop(procs)
        raise
    return procs


def stop(procs):
    for p in reversed(procs):
        try:
            os.killpg(p.pid, 15)
        except ProcessLookupError:
            pass
        p.wait()


def sides(tallowick, direct):
    zone = ZoneInfo(ZONE)
    start = dt.datetime.fromisoformat(WEEK[0] + "T00:00:00").replace(tzinfo=zone)
    end = dt.datetime.fromisoformat(WEEK[1] + "T23:59:59").replace(tzinfo=zone)
    # The window tallowick asks EDS for: the week, two days wider on either
    # side (for floating times), in UTC.
    margin = dt.timedelta(days=2)
    stamp = lambda t: t.astimezone(dt.timezone.utc).strftime("%Y%m%dT%H%M%SZ")
    return [("tallowick events", [tallowick, "events", *WEEK]),
            ("eds_direct query", [direct, "query", stamp(start - margin), stamp(end + margin)]),
            ("eds_direct instances", [direct, "instances", str(calendar.timegm(start.utctimetuple())),
                                      str(calendar.timegm(end.utctimetuple()))])]


def measure(label, commands, env, runs, warmup):
    times = {name: [] for name, _ in commands}
    rss = {name: [] for name, _ in commands}
    failures = {name: 0 for name, _ in commands}
    for i in range(warmup + runs):
        for name, argv in commands:
            elapsed, status = run_once(argv, env)
            if i >= warmup:
                times[name].append(elapsed * 1000)
                failures[name] += status != 0
    for name, argv in commands:
        rss[name].append(peak_rss_kib(argv, env) / 1024)
    rows = []
    for name, argv in commands:
        answer = subprocess.run(argv, env=env, capture_output=True, text=True).stdout
        size = len(json.loads(answer)) if name.startswith("tallowick") else int(answer or 0)
        row = {"scenario": label, "side": name, "median_ms": statistics.median(times[name]),
               "min_ms": min(times[name]), "max_ms": max(times[name]), "max_rss_mib": max(rss[name]),
               "answer": size, "failures": failures[name]}
        print("%-34s %-22s %8.1f ms [%7.1f..%7.1f]  rss %6.1f MiB  answer %d%s" % (
            label, name, row["median_ms"], row["min_ms"], row["max_ms"], row["max_rss_mib"], size,
            "  FAILED RUNS: %d" % row["failures"] if row["failures"] else ""), flush=True)
        rows.append(row)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build-bench"))
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--events", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=20261208)
    args = parser.parse_args()

    tallowick = os.path.join(args.build, "tallowick", "tallowick")
    direct = os.path.join(args.build, "bench", "eds_direct")
    if not os.path.exists(direct):
        print("eds.py: %s is missing (libecal-2.0 not found at build time); skipped" % direct)
        return
    home = os.path.join(os.path.abspath(args.out), "eds-home")
    shutil.rmtree(home, ignore_errors=True)
    for d in ("config/evolution/sources", "config/vantrel", "data/evolution/calendar", "cache", "run"):
        os.makedirs(os.path.join(home, d))
    os.chmod(os.path.join(home, "run"), 0o700)
    write_calendars(home, args.events, args.seed)
    with open(os.path.join(home, "config/vantrel/calendar.json"), "w") as f:
        json.dump({"backend": "eds", "access": {"events": "full-access", "reminders": "full-access"}}, f)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CACHE_HOME=os.path.join(home, "cache"), XDG_RUNTIME_DIR=os.path.join(home, "run"), TZ=ZONE)
    procs = start_eds(home, env)
    rows = []
    try:
        commands = sides(tallowick, direct)
        rows += measure("first run (no other client)", commands, env, args.runs, args.warmup)
        holder = subprocess.Popen([direct, "hold"], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  text=True)
        try:
            if holder.stdout.readline().strip() != "ready":
                raise SystemExit("the holding client did not start")
            rows += measure("another client holds them open", commands, env, args.runs, args.warmup)
        finally:
            holder.stdin.close()
            holder.wait()
    finally:
        stop(procs)

    machine = describe_machine()
    lines = ["| Scenario | Command | Median ms (min..max) | Max RSS (MiB) | Answer |", "|---|---|---|---|---|"]
    for r in rows:
        lines.append("| %s | %s | %.0f (%.0f..%.0f) | %.1f | %d %s |" % (
            r["scenario"], r["side"], r["median_ms"], r["min_ms"], r["max_ms"], r["max_rss_mib"], r["answer"],
            "events" if r["side"].startswith("tallowick") else
            ("components" if r["side"].endswith("query") else "instances")))
    for scenario in dict.fromkeys(r["scenario"] for r in rows):
        ours = next(r for r in rows if r["scenario"] == scenario and r["side"] == "tallowick events")
        base = next(r for r in rows if r["scenario"] == scenario and r["side"] == "eds_direct query")
        lines.append("\n%s: tallowick / direct query = %.2f (target <= 1: %s)" % (
            scenario, ours["median_ms"] / base["median_ms"], "met" if ours["median_ms"] <= base["median_ms"] else "MISSED"))
    text = "\n".join(lines) + "\n\nMachine: " + machine + "\n"
    with open(os.path.join(args.out, "eds.md"), "w") as f:
        f.write(text)
    with open(os.path.join(args.out, "eds.json"), "w") as f:
        json.dump({"rows": rows, "machine": machine}, f, indent=1)
    print(text)


if __name__ == "__main__":
    main()

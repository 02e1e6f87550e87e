#!/usr/bin/env python3
"""Whole-process timings of the helpers, each side by side with its baseline.

Every comparison runs its two commands alternately in one loop (after a warm-up),
so that both see the same machine state, and reports the median and spread of
each, the ratio of the medians and the peak memory (max RSS) of one more run.
Usage: bench/run (builds, generates the stores, then calls this script).
With --links STATIC_BUILD it compares only the two ways of linking: the
programs of --build (linked shared, the default) against those of
STATIC_BUILD (-DVANTREL_STATIC_LIBS=ON), their sizes and the start-up of
`tallowick reminder-lists` and `tallowick events` on the sample store.
"""

import argparse
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def run_once(cmd, env, cwd=None):
    """Runs cmd with stdout and stderr discarded; returns (seconds, status)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, _ = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    return elapsed, os.waitstatus_to_exitcode(status)


def peak_rss_kib(cmd, env):
    """The peak memory of one run, from GNU time. A child of this process would
    report this interpreter's own memory instead (about 16 MiB): exec keeps the
    high-water mark of the process it replaces."""
    proc = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return int(proc.stderr.decode().strip().splitlines()[-1])


class Side:
    def __init__(self, label, cmd, env, before=None):
        self.label, self.cmd, self.env, self.before = label, cmd, env, before
        self.times, self.rss, self.failures = [], [], 0

    def sample(self, record):
        if self.before:
            self.before()
        elapsed, status = run_once(self.cmd, self.env)
        if record:
            self.times.append(elapsed)
            if status != 0:
                self.failures += 1

    def measure_peak(self):
        if self.before:
            self.before()
        self.rss.append(peak_rss_kib(self.cmd, self.env))

    def median(self):
        return statistics.median(self.times)

    def spread(self):
        return min(self.times), max(self.times)


def compare(name, ours, baseline, runs, warmup, target=None, big_store=False):
    for _ in range(warmup):
        ours.sample(False)
        baseline.sample(False)
    for _ in range(runs):
        ours.sample(True)
        baseline.sample(True)
    ours.measure_peak()
    baseline.measure_peak()
    ratio = ours.median() / baseline.median()
    row = {
        "name": name,
        "ours": ours.label, "baseline": baseline.label,
        "ours_median_ms": ours.median() * 1000, "ours_spread_ms": [t * 1000 for t in ours.spread()],
        "baseline_median_ms": baseline.median() * 1000,
        "baseline_spread_ms": [t * 1000 for t in baseline.spread()],
        "ratio": ratio, "ours_max_rss_kib": max(ours.rss), "baseline_max_rss_kib": max(baseline.rss),
        "ours_failures": ours.failures, "baseline_failures": baseline.failures,
        "target": target, "big_store": big_store,
    }
    if target is not None:
        row["meets_target"] = ratio <= target and ours.failures == 0
    print("%-44s %8.2f ms [%7.2f..%7.2f]  vs %-22s %8.2f ms  ratio %.3f%s  rss %d KiB%s" % (
        name, row["ours_median_ms"], *row["ours_spread_ms"], baseline.label, row["baseline_median_ms"], ratio,
        "" if target is None else " (target <= %g: %s)" % (target, "ok" if row["meets_target"] else "MISSED"),
        row["ours_max_rss_kib"], "" if not ours.failures else "  FAILED RUNS: %d" % ours.failures), flush=True)
    return row


def describe_machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = os.getloadavg()[0]
    return "%d cores (nproc), %s, load average %.1f at the end" % (os.cpu_count(), model, load)


def markdown_table(rows, machine):
    lines = ["| Comparison | Ours (median ms, min..max) | Baseline (median ms) | Ratio | Target | Max RSS (MiB) |",
             "|---|---|---|---|---|---|"]
    for r in rows:
        lines.append("| %s | %.1f (%.1f..%.1f) | %s %.1f | %.3f | %s | %.1f |" % (
            r["name"], r["ours_median_ms"], r["ours_spread_ms"][0], r["ours_spread_ms"][1], r["baseline"],
            r["baseline_median_ms"], r["ratio"],
            "-" if r["target"] is None else ("<= %g %s" % (r["target"], "met" if r["meets_target"] else "MISSED")),
            r["ours_max_rss_kib"] / 1024))
    return "\n".join(lines) + "\n\nMachine: " + machine + "\n"


def write_settings(config_home, store, default_list=None):
    os.makedirs(os.path.join(config_home, "vantrel"), exist_ok=True)
    settings = {"store": store, "access": {"events": "full-access", "reminders": "full-access"}}
    if default_list:
        settings["defaultReminderList"] = default_list
    with open(os.path.join(config_home, "vantrel", "calendar.json"), "w") as f:
        json.dump(settings, f)


def khal_config(config_home, store):
    os.makedirs(os.path.join(config_home, "khal"), exist_ok=True)
    with open(os.path.join(config_home, "khal", "config"), "w") as f:
        f.write("[calendars]\n[[bench]]\npath = %s/*\ntype = discover\n\n[locale]\n"
                "timeformat = %%H:%%M\ndateformat = %%Y-%%m-%%d\nlongdateformat = %%Y-%%m-%%d\n"
                "datetimeformat = %%Y-%%m-%%d %%H:%%M\nlongdatetimeformat = %%Y-%%m-%%d %%H:%%M\n" % store)
    os.makedirs(os.path.join(config_home, "todoman"), exist_ok=True)
    with open(os.path.join(config_home, "todoman", "config.py"), "w") as f:
        f.write('path = "%s/*"\ndate_format = "%%Y-%%m-%%d"\ntime_format = "%%H:%%M"\n'
                'cache_path = "%s"\n' % (store, os.path.join(config_home, "todoman-cache.sqlite3")))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def check_freshness(tallowick, env, store):
    """Edits, adds and removes an item between runs; the listing must follow each change."""
    collection = os.path.join(store, sorted(d for d in os.listdir(store) if not d.startswith("."))[0])
    path = os.path.join(collection, "zz-freshness.ics")
    item = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\nBEGIN:VEVENT\r\nUID:freshness\r\n"
            "DTSTAMP:20260101T000000Z\r\nDTSTART:20260602T100000\r\nDTEND:20260602T110000\r\n"
            "SUMMARY:%s\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
    listing = lambda: subprocess.run([tallowick, "events", "2026-06-01", "2026-06-07"], env=env,
                                     capture_output=True, text=True).stdout
    results = {}
    with open(path, "w", newline="") as f:
        f.write(item % "Fresh one")
    results["added"] = "Fresh one" in listing()
    stat = os.stat(path)
    with open(path, "w", newline="") as f:  # same size, same mtime: only the bytes change
        f.write(item % "Fresh two")
    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    out = listing()
    results["edited in place"] = "Fresh two" in out and "Fresh one" not in out
    os.remove(path)
    results["removed"] = "Fresh two" not in listing()

    # The same for a todo, whose fields the reminders listing takes from the cache.
    todo = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\nBEGIN:VTODO\r\nUID:freshness-todo\r\n"
            "DTSTAMP:20260101T000000Z\r\nSUMMARY:%s\r\nSTATUS:%s\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
    reminders = lambda: subprocess.run([tallowick, "reminders"], env=env, capture_output=True, text=True).stdout
    reminders()  # the cache holds every other file
    with open(path, "w", newline="") as f:
        f.write(todo % ("Todo one", "NEEDS-ACTION"))
    results["todo added"] = "Todo one" in reminders()
    stat = os.stat(path)

    def rewrite(title, status):  # the old mtime put back: only the bytes and ctime change
        with open(path, "w", newline="") as f:
            f.write(todo % (title, status))
        os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))

    rewrite("Todo two", "NEEDS-ACTION")
    out = reminders()
    results["todo title edited in place"] = "Todo two" in out and "Todo one" not in out
    rewrite("Todo two", "COMPLETED")
    results["todo completed in place"] = "Todo two" not in reminders()
    rewrite("Todo three", "NEEDS-ACTION")
    listed = "Todo three" in reminders()
    os.remove(path)
    results["todo removed"] = listed and "Todo three" not in reminders()
    for what, ok in results.items():
        print("freshness: item %s -> %s" % (what, "reflected" if ok else "STALE"), flush=True)
    return results


def link_kind(binary):
    """"static" when ICU is linked in, else "shared" (the figures say which)."""
    out = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
    return "shared" if "libicuuc" in out else "static"


def sample_env(base_env, out, name):
    home = os.path.join(out, name)
    shutil.rmtree(home, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "sample"), home)
    return dict(base_env, XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
                XDG_CACHE_HOME=os.path.join(home, "cache"))


def compare_links(shared_build, static_build, out, runs, warmup):
    """Sizes and start-up of the shared and the static programs, side by side."""
    base_env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    base_env["TZ"] = "Europe/Berlin"
    env = sample_env(base_env, out, "links-home")
    builds = {"shared": shared_build, "static": static_build}
    for kind, build in builds.items():
        found = link_kind(os.path.join(build, "tallowick", "tallowick"))
        if found != kind:
            raise SystemExit("%s holds %s programs, not %s ones" % (build, found, kind))
    lines = ["| | shared | static |", "|---|---|---|"]
    for program in ("tallowick", "orvendel"):
        sizes = [os.path.getsize(os.path.join(b, program, program)) / 1e6 for b in builds.values()]
        lines.append("| size of `%s` | %.1f MB | %.1f MB |" % (program, *sizes))
    rows = []
    for label, argv in [("reminder-lists", ["reminder-lists"]), ("events", ["events", "2026-01-05", "2026-01-11"])]:
        sides = {kind: Side("%s %s (%s)" % ("tallowick", label, kind),
                            [os.path.join(build, "tallowick", "tallowick")] + argv, env)
                 for kind, build in builds.items()}
        row = compare("tallowick %s (sample), static against shared" % label, sides["static"], sides["shared"],
                      runs, warmup)
        rows.append(row)
        lines.append("| `tallowick %s` (sample), median ms (min..max) | %.1f (%.1f..%.1f) | %.1f (%.1f..%.1f) |" % (
            " ".join(argv), row["baseline_median_ms"], *row["baseline_spread_ms"], row["ours_median_ms"],
            *row["ours_spread_ms"]))
        lines.append("| its peak memory (max RSS) | %.1f MiB | %.1f MiB |" % (
            row["baseline_max_rss_kib"] / 1024, row["ours_max_rss_kib"] / 1024))
    noop = Side("do-nothing program", [os.path.join(shared_build, "bench", "noop")], base_env)
    floor = compare("do-nothing program, for scale", noop, Side("true", ["true"], base_env), runs, warmup)
    lines.append("| do-nothing program, for scale | %.1f ms | |" % floor["ours_median_ms"])
    table = "\n".join(lines) + "\n\nMachine: " + describe_machine() + "\n"
    with open(os.path.join(out, "links.md"), "w") as f:
        f.write(table)
    with open(os.path.join(out, "links.json"), "w") as f:
        json.dump({"rows": rows, "table": table}, f, indent=1)
    print(table)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--warmup", type=int, default=3)
    parser.add_argument("--first-runs", type=int, default=3, help="runs of the cold-cache comparison")
    parser.add_argument("--tokens", type=int, default=10000)
    parser.add_argument("--links", metavar="STATIC_BUILD", help="compare only shared and static linking")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    if args.links:
        compare_links(args.build, args.links, os.path.abspath(args.out), args.runs, args.warmup)
        return

    tallowick = os.path.join(args.build, "tallowick", "tallowick")
    orvendel = os.path.join(args.build, "orvendel", "orvendel")
    noop = os.path.join(args.build, "bench", "noop")
    out = os.path.abspath(args.out)
    rows = []
    base_env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    base_env["TZ"] = "Europe/Berlin"

    # The sample store, against the floor of starting a process.
    sample_home = os.path.join(out, "sample-home")
    shutil.rmtree(sample_home, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "sample"), sample_home)
    sample_env = dict(base_env, XDG_CONFIG_HOME=os.path.join(sample_home, "config"),
                      XDG_DATA_HOME=os.path.join(sample_home, "data"),
                      XDG_CACHE_HOME=os.path.join(sample_home, "cache"))
    floor = lambda: Side("do-nothing program", [noop], base_env)
    request = os.path.join(out, "complete.json")
    with open(request, "w") as f:
        json.dump({"title": "no such reminder", "listName": "nowhere"}, f)
    for label, argv in [
        ("events (sample)", ["events", "2026-01-05", "2026-01-11"]),
        ("reminders (sample)", ["reminders"]),
        ("reminder-lists (sample)", ["reminder-lists"]),
        ("complete-reminder, no match (sample)", ["complete-reminder", request]),
        ("request-access events (sample)", ["request-access", "events"]),
    ]:
        rows.append(compare(label, Side("tallowick " + argv[0], [tallowick] + argv, sample_env), floor(),
                            args.runs, args.warmup, target=4))
    add_request = os.path.join(out, "add.json")
    with open(add_request, "w") as f:
        json.dump({"title": "bench", "listName": "nowhere", "priority": 0}, f)
    rows.append(compare("add-reminder (sample, grows the store)",
                        Side("tallowick add-reminder", [tallowick, "add-reminder", add_request], sample_env),
                        floor(), args.runs, args.warmup, target=4))

    # The 10,000-event store against khal and todoman on the same folder.
    store = os.path.join(out, "store10k")
    if not os.path.isdir(store):
        subprocess.run([sys.executable, os.path.join(HERE, "generate_store.py"), "--out", store], check=True)
    home = os.path.join(out, "home10k")
    shutil.rmtree(home, ignore_errors=True)
    config_home = os.path.join(home, "config")
    write_settings(config_home, store)
    khal_config(config_home, store)
    env = dict(base_env, XDG_CONFIG_HOME=config_home, XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CACHE_HOME=os.path.join(home, "cache"))
    week = ["2026-06-01", "2026-06-07"]
    ours_events = Side("tallowick events", [tallowick, "events"] + week, env)
    rows.append(compare("events, one week, 10k events (warm)", ours_events,
                        Side("khal list (warm)", ["khal", "list"] + week, env), args.runs, args.warmup, target=0.1,
                        big_store=True))
    clear_ours = lambda: shutil.rmtree(os.path.join(home, "cache", "vantrel"), ignore_errors=True)
    clear_khal = lambda: shutil.rmtree(os.path.join(home, "data", "khal"), ignore_errors=True)
    rows.append(compare("events, one week, 10k events (first run)",
                        Side("tallowick events (no cache)", [tallowick, "events"] + week, env, before=clear_ours),
                        Side("khal list (first run)", ["khal", "list"] + week, env, before=clear_khal),
                        args.first_runs, 0, target=0.1, big_store=True))
    rows.append(compare("reminders, 2,000 todos (warm)", Side("tallowick reminders", [tallowick, "reminders"], env),
                        Side("todoman list (warm)", ["todoman", "list"], env), args.runs, args.warmup, target=0.1,
                        big_store=True))
    freshness = check_freshness(tallowick, env, store)

    # orvendel: status with nothing listening, and a 10,000-token stream.
    model_home = os.path.join(out, "model-home")
    os.makedirs(os.path.join(model_home, "vantrel"), exist_ok=True)
    port = free_port()
    with open(os.path.join(model_home, "vantrel", "model.json"), "w") as f:
        json.dump({"endpoint": "http://127.0.0.1:%d" % port}, f)
    model_env = dict(base_env, XDG_CONFIG_HOME=model_home)
    rows.append(compare("orvendel status, nothing listening", Side("orvendel status", [orvendel, "status"], model_env),
                        floor(), args.runs, args.warmup))
    server_script = os.path.join(ROOT, "orvendel", "model", "local", "testdata", "scripted_server.py")
    server = subprocess.Popen([sys.executable, server_script, "--port", str(port),
                               "--tokens", str(args.tokens)], stdout=subprocess.DEVNULL)
    try:
        if not wait_for_port(port):
            raise SystemExit("the scripted stream server did not start")
        chat = os.path.join(out, "chat.json")
        with open(chat, "w") as f:
            json.dump({"userMessage": "Count", "history": []}, f)
        body = json.dumps({"messages": [{"role": "user", "content": "Count"}], "stream": True})
        curl = ["curl", "-sN", "-H", "Content-Type: application/json", "-d", body,
                "http://127.0.0.1:%d/v1/chat/completions" % port]
        rows.append(compare("stream-chat, %d tokens" % args.tokens,
                            Side("orvendel stream-chat", [orvendel, "stream-chat", chat], model_env),
                            Side("curl -N", curl, base_env), args.runs, args.warmup, target=1.5))
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait()

    machine = describe_machine() + "; programs linked %s" % link_kind(tallowick)
    with open(os.path.join(out, "results.json"), "w") as f:
        json.dump({"rows": rows, "freshness": freshness, "machine": machine}, f, indent=1)
    with open(os.path.join(out, "results.md"), "w") as f:
        f.write(markdown_table(rows, machine))
    missed = [r["name"] for r in rows if r.get("meets_target") is False] + \
             ["freshness: " + k for k, v in freshness.items() if not v]
    # Every tallowick run on the big store counts, the reminders one included.
    big = [r["name"] for r in rows if r["big_store"] and r["ours_max_rss_kib"] > 32 * 1024]
    print("peak RSS on the 10k store: %d KiB (target < 32768)" %
          max(r["ours_max_rss_kib"] for r in rows if r["big_store"]))
    print("machine: %s; table in %s" % (machine, os.path.join(out, "results.md")))
    if missed or big:
        print("targets missed: " + ", ".join(missed + ["memory: " + b for b in big]))


if __name__ == "__main__":
    main()
